#include "printing/submission.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "base/print_failure.h"
#include "printing/print_color_entries.h"

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
  auto options = jobOptions(settings, "iso_a4_210x297mm");
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
                                                        {"sides", "one-sided"},
                                                        {"copies", "1"}}));

  ColorManagement color;
  color.mode = "application";
  color.renderingIntent = "perceptual";
  color.profileId = "id";
  color.profilePath = "/p.icc";
  color.driverColorManagementDisabled = true;
  configureApplicationColor(settings, color);
  options = jobOptions(settings, "iso_a4_210x297mm");
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
  const std::vector<PrintOption> unmarked = jobOptions(lost, "iso_a4_210x297mm");
  try {
    verifyApplicationColor(unmarked, color);
    ADD_FAILURE() << "unmarked job options passed";
  } catch (const PrintFailure& failure) {
    EXPECT_STREQ(failure.what(),
                 "macOS did not retain the requested application-managed color settings. "
                 "Nothing was submitted.");
  }
  EXPECT_NO_THROW(verifyApplicationColor(unmarked, ColorManagement::printer()));
}

}  // namespace
}  // namespace vardelle::printing
