#include <gtest/gtest.h>

#include <cstring>

#include "base/print_failure.h"
#include "printing/cups/paper_measurement.h"
#include "printing/settings/print_summary.h"
#include "testing/cups_rig.h"
#include "testing/failure.h"
#include "testing/hand_pdf.h"
#include "testing/run_process.h"

namespace vardelle::printing {
namespace {

using testing::failureOf;

// The sheets and margins of testing/printer/vardelle-test.ppd, in hundredths of a millimetre.
struct PpdPaper {
  const char* media;
  int width, length, left, bottom, right, top;
};
constexpr PpdPaper kA4{"iso_a4_210x297mm", 21000, 29700, 300, 500, 400, 600};
constexpr PpdPaper kLetter{"na_letter_8.5x11in", 21590, 27940, 600, 1000, 700, 800};

double pt(int hundredths) { return hundredths * 72.0 / 2540.0; }

PrintSettings settingsFor(const testing::CupsRig& rig, const char* media, Orientation orientation) {
  PrintSettings settings(rig.queue());
  EXPECT_TRUE(settings.setOption("media", media));
  settings.setOrientation(orientation);
  return settings;
}

void expectPortrait(const artwork::PaperGeometry& g, const PpdPaper& p) {
  EXPECT_EQ(g.width, pt(p.width));
  EXPECT_EQ(g.height, pt(p.length));
  EXPECT_EQ(g.imageableX, pt(p.left));
  EXPECT_EQ(g.imageableY, pt(p.bottom));
  EXPECT_EQ(g.imageableWidth, pt(p.width - p.left - p.right));
  EXPECT_EQ(g.imageableHeight, pt(p.length - p.bottom - p.top));
}

void expectLandscape(const artwork::PaperGeometry& g, const PpdPaper& p) {
  EXPECT_EQ(g.width, pt(p.length));
  EXPECT_EQ(g.height, pt(p.width));
  EXPECT_EQ(g.imageableX, pt(p.top));
  EXPECT_EQ(g.imageableY, pt(p.left));
  EXPECT_EQ(g.imageableWidth, pt(p.length - p.bottom - p.top));
  EXPECT_EQ(g.imageableHeight, pt(p.width - p.left - p.right));
}

TEST(PaperMeasurement, A4AndLetterMatchThePpdInBothOrientations) {
  testing::CupsRig rig;
  for (const PpdPaper& paper : {kA4, kLetter}) {
    SCOPED_TRACE(paper.media);
    auto portrait = measurePaper(settingsFor(rig, paper.media, Orientation::portrait));
    expectPortrait(portrait.geometry, paper);
    EXPECT_EQ(portrait.mediaName, paper.media);
    expectLandscape(paperGeometry(settingsFor(rig, paper.media, Orientation::landscape)), paper);
  }
  EXPECT_NEAR(paperGeometry(settingsFor(rig, kA4.media, Orientation::portrait)).width, 595.2756,
              1e-4);
  EXPECT_EQ(paperGeometry(settingsFor(rig, kLetter.media, Orientation::portrait)).width, 612.0);
}

// The landscape geometry must describe the sheet as it comes out: a landscape page printed on
// portrait media is turned by the CUPS filters, and the turn decides which portrait margin
// becomes the landscape left one. A mark in the landscape page's lower-left corner must land in
// the portrait sheet's upper-left corner for "left margin = portrait top margin" to hold.
TEST(PaperMeasurement, LandscapeGeometryFollowsTheTurnTheCupsFiltersMake) {
  testing::CupsRig rig;
  artwork::PaperGeometry landscape =
      paperGeometry(settingsFor(rig, kA4.media, Orientation::landscape));
  ASSERT_EQ(landscape.imageableX, pt(kA4.top));
  ASSERT_EQ(landscape.imageableY, pt(kA4.left));

  testing::TempDir files;
  std::string pdf = files.write(
      "landscape.pdf",
      testing::handWrittenPdf(landscape.width, landscape.height, "1 0 0 rg 0 0 100 100 re f"));
  auto submitted =
      testing::runProcess({"/usr/bin/lp", "-d", rig.queue(), "-o",
                           std::string("media=") + kA4.media, "-o", "print-scaling=none", pdf},
                          rig.environment());
  ASSERT_EQ(submitted.exitStatus, 0) << submitted.err;
  auto jobs = rig.waitForJobs(1);
  ASSERT_EQ(jobs.size(), 1u);
  auto raster = testing::runProcess(
      {"/usr/bin/pdftoppm", "-r", "10", "-singlefile", jobs[0].file, files.file("sheet")});
  ASSERT_EQ(raster.exitStatus, 0) << raster.err;
  testing::PixelBounds red =
      testing::findColor(testing::readFile(files.file("sheet.ppm")), 255, 0, 0);
  ASSERT_GE(red.minX, 0) << "the mark did not reach the printer";
  EXPECT_LT(red.width, red.height) << "the printer got a portrait sheet";
  EXPECT_LT(red.maxX, red.width / 4);
  EXPECT_LT(red.maxY, red.height / 4);
}

TEST(PaperMeasurement, RepeatedMeasurementsAreIdenticalToTheLastBit) {
  testing::CupsRig rig;
  PrintSettings settings = settingsFor(rig, kLetter.media, Orientation::landscape);
  artwork::PaperGeometry first = paperGeometry(settings);
  for (int i = 0; i < 3; ++i) {
    artwork::PaperGeometry again = paperGeometry(*PrintSettings::restore(settings.archive()));
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
  }
}

TEST(PaperMeasurement, WithoutAChosenPaperTheQueueDefaultIsMeasured) {
  testing::CupsRig rig;
  MeasuredPaper measured = measurePaper(PrintSettings(rig.queue()));
  EXPECT_EQ(measured.mediaName, kA4.media);
  expectPortrait(measured.geometry, kA4);
}

TEST(PaperMeasurement, PaperThePrinterDoesNotOfferIsRefusedNotApproximated) {
  testing::CupsRig rig;
  for (const char* media : {"iso_a3_297x420mm", "custom_near-a4_209x297mm", "no-such-paper"}) {
    SCOPED_TRACE(media);
    std::string failure =
        failureOf([&] { paperGeometry(settingsFor(rig, media, Orientation::portrait)); });
    EXPECT_EQ(failure, "The printer does not offer the paper size \"" + std::string(media) +
                           "\". Choose another paper in Printer Settings and save them again.");
  }
  PrintSettings odd(rig.queue());
  ASSERT_TRUE(odd.setOption("orientation-requested", "landscape"));
  EXPECT_EQ(failureOf([&] { paperGeometry(odd); }),
            "The saved orientation is not one this helper understands. Save Printer Settings "
            "again.");
}

TEST(PaperMeasurement, SummaryUsesTheMeasuredSheet) {
  testing::CupsRig rig;
  PrintSettings settings = settingsFor(rig, kLetter.media, Orientation::landscape);
  ASSERT_TRUE(settings.setOption("copies", "2"));
  ASSERT_TRUE(settings.setOption("print-color-mode", "monochrome"));
  PrintSummary summary = printSummary(settings);
  EXPECT_DOUBLE_EQ(summary.paperWidthMm, artwork::millimeters(pt(kLetter.length)));
  EXPECT_DOUBLE_EQ(summary.paperHeightMm, artwork::millimeters(pt(kLetter.width)));
  EXPECT_FALSE(summary.paperName.empty());
  EXPECT_NE(summary.paperName, "Custom paper");
  EXPECT_EQ(summary.orientation, "landscape");
  EXPECT_EQ(summary.copies, 2);
  EXPECT_EQ(summary.printerName, rig.queue());
  EXPECT_EQ(summary.colorMode, "monochrome");
}

}  // namespace
}  // namespace vardelle::printing
