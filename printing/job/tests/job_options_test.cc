#include "printing/job/job_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "base/print_failure.h"
#include "printing/cups/same_sheet.h"
#include "printing/job/job_options.h"
#include "printing/job/last_check.h"
#include "printing/settings/print_color_entries.h"
#include "testing/failure.h"
#include "testing/ppd_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

TEST(Submission, CopiesOverrideAndPaperToleranceAndTitle) {
  PrintSettings settings("q");
  ASSERT_TRUE(settings.setOption("copies", "4"));
  applyCopiesOverride(settings, std::nullopt);
  EXPECT_EQ(settings.copies(), 4);
  applyCopiesOverride(settings, 99);
  EXPECT_EQ(settings.copies(), 99);
  for (int64_t bad : {0, 100, -1}) {
    EXPECT_THROW(applyCopiesOverride(settings, bad), PrintFailure) << bad;
  }
  EXPECT_EQ(settings.copies(), 99);

  const artwork::PaperGeometry saved{595, 842, 10, 10, 575, 822};
  for (double artwork::PaperGeometry::*field :
       {&artwork::PaperGeometry::width, &artwork::PaperGeometry::height,
        &artwork::PaperGeometry::imageableX, &artwork::PaperGeometry::imageableY,
        &artwork::PaperGeometry::imageableWidth, &artwork::PaperGeometry::imageableHeight}) {
    artwork::PaperGeometry moved = saved;
    moved.*field += 0.02;
    EXPECT_NO_THROW(requireSamePaper(saved, moved));
    moved.*field = saved.*field - 0.03;
    EXPECT_THROW(requireSamePaper(saved, moved), PrintFailure);
    moved.*field = std::nan("");
    EXPECT_THROW(requireSamePaper(saved, moved), PrintFailure);
  }

  PrintRequest request;
  EXPECT_EQ(jobTitle(request), "Artwork");
  request.filePath = "/art/Poster final.v2.pdf";
  EXPECT_EQ(jobTitle(request), "Poster final.v2.pdf");
}

TEST(Submission, AJobDocumentLargerThanTheSpoolMayHoldIsRefusedInTheUnitItIsSaidIn) {
  EXPECT_NO_THROW(requireSpoolRoom(kMaxJobDocumentBytes, 99, std::nullopt));
  EXPECT_NO_THROW(requireSpoolRoom(1000, 1, 1000));
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(14'800'000'000ULL, 99, std::nullopt); }),
            "The print job would be 14.8 GB (it holds all 99 copies, made by this computer), "
            "more than the 4.0 GB one print may take on disk while it waits. Nothing was sent. "
            "Print fewer copies at a time.");
  // A byte over is said over: the document rounded up, the limit and the room rounded down.
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(kMaxJobDocumentBytes + 1, 1, {}); }),
            "The print job would be 4.1 GB, more than the 4.0 GB one print may take on disk "
            "while it waits. Nothing was sent. Print at a smaller size.");
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(1'500'000'001ULL, 3, 1'599'999'999ULL); }),
            "");
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(2'000, 1, 0); }),
            "The print job would be 0.1 MB, more than the 0.0 MB left on the disk that holds the "
            "print queue. Nothing was sent. Free some disk space, then try again.");
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(1'200'000'000ULL, 1, 800'000'000ULL); }),
            "The print job would be 1200.0 MB, more than the 800.0 MB left on the disk that holds "
            "the print queue. Nothing was sent. Free some disk space, then try again.");
  EXPECT_EQ(testing::failureOf([] { requireSpoolRoom(2'000'000'000ULL, 3, 1'599'999'999ULL); }),
            "The print job would be 2.0 GB (it holds all 3 copies, made by this computer), more "
            "than the 1.5 GB left on the disk that holds the print queue. Nothing was sent. Free "
            "some disk space, or print fewer copies at a time.");
}

TEST(Submission, TheSpoolIsCupsdsOwnRequestRootOnThisMachineOnly) {
  testing::TempDir dir;
  const std::string conf = dir.write("cups-files.conf",
                                     "# RequestRoot /not/this\nServerRoot /etc/cups\n"
                                     "requestroot /srv/spool/cups\nTempDir /tmp\n");
  for (const char* local : {"localhost:631", "localhost:24718", "/run/cups/cups.sock", "127.0.0.1",
                            "[::1]:631", "LOCALHOST"}) {
    EXPECT_EQ(spoolFolder(local, conf), "/srv/spool/cups") << local;
  }
  EXPECT_EQ(spoolFolder("localhost", dir.write("empty.conf", "LogLevel warn\n")),
            "/var/spool/cups");
  EXPECT_EQ(spoolFolder("localhost", dir.file("missing.conf")), "/var/spool/cups");
  for (const char* remote : {"print.example.org", "192.168.1.20:631", "localhost.example.org"}) {
    EXPECT_EQ(spoolFolder(remote, conf), std::nullopt) << remote;
  }
}

TEST(Submission, JobOptionsForceExactSizeAndNeverTurnThePage) {
  PrintSettings settings("q");
  for (auto [name, value] : {std::pair{"media", "na_letter_8.5x11in"},
                             {"ColorModel", "RGB"},
                             {"orientation-requested", "4"},
                             {"landscape", "true"},
                             {"Print-Scaling", "fit"},
                             {"sides", "two-sided-long-edge"},
                             {"cm-calibration", "x"}}) {
    ASSERT_TRUE(settings.setOption(name, value));
  }
  auto options = jobOptions(settings, "iso_a4_210x297mm", nullptr, CopiesPlan{});
  std::map<std::string, std::string> byName;
  for (const auto& option : options) {
    EXPECT_TRUE(byName.emplace(option.name, option.value).second) << "twice: " << option.name;
  }
  EXPECT_EQ(byName, (std::map<std::string, std::string>{{"ColorModel", "RGB"},
                                                        {"media", "iso_a4_210x297mm"},
                                                        {"print-scaling", "none"},
                                                        {"fit-to-page", "false"},
                                                        {"fitplot", "false"},
                                                        {"natural-scaling", "100"},
                                                        {"number-up", "1"},
                                                        {"page-border", "none"},
                                                        {"job-sheets", "none,none"},
                                                        {"mirror", "false"},
                                                        {"page-set", "all"},
                                                        {"outputorder", "normal"},
                                                        {"copies", "1"},
                                                        {"sides", "one-sided"}}));
  // The copies and sides are the copies plan's: a saved sides never reaches the job by itself.

  ColorManagement color;
  color.mode = "application";
  color.renderingIntent = "perceptual";
  color.profileId = "id";
  color.profilePath = "/p.icc";
  color.driverColorManagementDisabled = true;
  configureApplicationColor(settings, color);
  options = jobOptions(settings, "iso_a4_210x297mm", nullptr, CopiesPlan{});
  EXPECT_EQ(options.back(), (PrintOption{"cm-calibration", "true"}));
  for (const auto& option : options) {
    EXPECT_NE(option.name, kColorMatchingModeKey);
    EXPECT_NE(option.name, kCustomProfilePathKey);
  }
  EXPECT_NO_THROW(verifyApplicationColor(options, color));

  // What is checked is what would be sent: settings whose matching entry was lost on the way
  // carry no marker, and the job is refused before it is made.
  PrintSettings lost = settings;
  ASSERT_TRUE(lost.setOption(kColorMatchingModeKey, "AP_PrinterColorMatching"));
  const std::vector<PrintOption> unmarked =
      jobOptions(lost, "iso_a4_210x297mm", nullptr, CopiesPlan{});
  EXPECT_EQ(testing::failureOf([&] { verifyApplicationColor(unmarked, color); }),
            "macOS did not retain the requested application-managed color settings. "
            "Nothing was submitted.");
  EXPECT_NO_THROW(verifyApplicationColor(unmarked, ColorManagement::printer()));
}

TEST(QueuePpd, DriverOverridesAndThePaperEntryGoOnlyToAQueueWithThatPpd) {
  testing::TempDir dir;
  QueuePpd ppd = testing::openPpd(dir, testing::driverPpd(testing::kShrinkAndCrop, ""));
  PrintSettings settings("q");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "w288h432J"));
  ASSERT_TRUE(settings.setOption("StpiShrinkOutput", "Shrink"));
  auto has = [](const std::vector<PrintOption>& options, const PrintOption& wanted) {
    return std::count(options.begin(), options.end(), wanted) == 1;
  };
  auto withPpd = jobOptions(settings, "na_index-4x6_4x6in", &ppd, CopiesPlan{});
  EXPECT_TRUE(has(withPpd, {"PageSize", "w288h432J"}));
  EXPECT_TRUE(has(withPpd, {"StpiShrinkOutput", "Crop"}));
  EXPECT_FALSE(has(withPpd, {"StpiShrinkOutput", "Shrink"}));
  auto withoutPpd = jobOptions(settings, "na_index-4x6_4x6in", nullptr, CopiesPlan{});
  for (const PrintOption& option : withoutPpd) {
    EXPECT_NE(option.name, "PageSize");
    EXPECT_NE(option.name, "StpiShrinkOutput");
  }
  EXPECT_TRUE(has(withoutPpd, {"media", "na_index-4x6_4x6in"}));

  EXPECT_NO_THROW(requireExactSizeChoices(ppd));
  QueuePpd shrinkOnly =
      testing::openPpd(dir, testing::driverPpd("*StpiShrinkOutput Shrink/Shrink: \"\"\n", ""));
  EXPECT_THROW(requireExactSizeChoices(shrinkOnly), PrintFailure);
}

// The driverless printer hears the preset's grey mode in its own words, whatever the driver
// called it.
TEST(DeviceJobOptions, AKGrayPresetAsksTheDriverlessPrinterForMonochrome) {
  PrintSettings settings("hp");
  ASSERT_TRUE(settings.setOption(PrintSettings::kColorModel, "KGray"));
  const std::vector<PrintOption> sent =
      deviceJobOptions(jobOptions(settings, "iso_a4_210x297mm", nullptr, CopiesPlan{}),
                       MediaEntry{21000, 29700, 0, 0, 0, 0});
  EXPECT_EQ(std::count(sent.begin(), sent.end(), PrintOption{"print-color-mode", "monochrome"}), 1);
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const PrintOption& o) { return o.name == "print-color-mode"; }),
            1);
}

}  // namespace
}  // namespace vardelle::printing
