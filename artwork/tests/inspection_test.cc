#include <gtest/gtest.h>

#include "artwork/artwork.h"
#include "base/print_failure.h"
#include "testing/png_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

const char* kSaveSettings = "Save Printer Settings to check paper size and printable margins.";
const PaperGeometry kA4Margins{595.28, 841.89, 18, 18, 559.28, 805.89};

// Inspection looks only at sizes and the descriptive fields, so pages can be made up.
Artwork pdfOfSizes(std::vector<Size> sizes) {
  Artwork a;
  a.format = "PDF";
  for (Size s : sizes) a.pages.push_back({PdfPage{}, s});
  a.warnings = {kPrinterColorWarning};
  a.sourceColorProfile = kPdfSourceColorProfile;
  a.colorManagement = kPrinterManaged;
  return a;
}

std::string pageNote(int n) {
  return "Page " + std::to_string(n) +
         " exceeds the physical paper at this scale. Reduce the scale or choose larger paper.";
}
std::string marginNote(int n) {
  return "Page " + std::to_string(n) +
         " extends into the printer's unprintable margins. Preview shows the clipped result; "
         "printing requires acknowledgment.";
}

TEST(Inspection, MeasuresInMillimetresMultiplyingFirst) {
  const DocumentInfo info = pdfOfSizes({{595.28, 841.89}}).inspect(50, std::nullopt, 0, 0);
  ASSERT_EQ(info.pages.size(), 1u);
  const PageInfo& p = info.pages[0];
  EXPECT_EQ(p.widthMm, 595.28 * 25.4 / 72);
  EXPECT_EQ(p.heightMm, 841.89 * 25.4 / 72);
  // Derived from the millimetres, not from scaled points.
  EXPECT_EQ(p.scaledWidthMm, (595.28 * 25.4 / 72) * 50 / 100);
  EXPECT_EQ(p.scaledHeightMm, (841.89 * 25.4 / 72) * 50 / 100);
  EXPECT_NEAR(p.widthMm, 210.0, 0.01);
  EXPECT_EQ(info.format, "PDF");
  EXPECT_EQ(info.pageCount, 1);
  EXPECT_FALSE(info.dpiX);
  EXPECT_EQ(info.sourceColorProfile, kPdfSourceColorProfile);
  EXPECT_EQ(info.colorManagement, "Printer-managed");
}

TEST(Inspection, WithoutPaperMeasuresAnyScaleAndAsksForSettings) {
  const DocumentInfo info = pdfOfSizes({{72, 72}, {144, 72}}).inspect(500, std::nullopt, 99, 0);
  EXPECT_FALSE(info.fits);
  EXPECT_FALSE(info.requiresClipping);
  EXPECT_EQ(info.pages[1].scaledWidthMm, 50.8 * 500 / 100);
  EXPECT_EQ(info.warnings, (std::vector<std::string>{kPrinterColorWarning, kSaveSettings}));
}

TEST(Inspection, PaperNoteWinsOverMarginNoteAndNamesOnlyItsPage) {
  const Artwork a = pdfOfSizes({{100, 100}, {595.28, 841.89}, {700, 900}});
  const DocumentInfo info = a.inspect(100, kA4Margins, 0, 0);
  EXPECT_EQ(info.fits, false);
  EXPECT_TRUE(info.requiresClipping);
  EXPECT_EQ(info.warnings,
            (std::vector<std::string>{kPrinterColorWarning, marginNote(2), pageNote(3)}));
}

TEST(Inspection, PageThatFitsEverywhereAddsNoNote) {
  const DocumentInfo info = pdfOfSizes({{100, 100}}).inspect(100, kA4Margins, 10, -10);
  EXPECT_EQ(info.fits, true);
  EXPECT_FALSE(info.requiresClipping);
  EXPECT_EQ(info.warnings, std::vector<std::string>{kPrinterColorWarning});
}

TEST(Inspection, MarginCrossingAloneStillFits) {
  const DocumentInfo info = pdfOfSizes({{595.28, 841.89}}).inspect(100, kA4Margins, 0, 0);
  EXPECT_EQ(info.fits, true);
  EXPECT_TRUE(info.requiresClipping);
  EXPECT_EQ(info.warnings, (std::vector<std::string>{kPrinterColorWarning, marginNote(1)}));
}

TEST(Inspection, PlacementFailureEndsInspection) {
  const Artwork a = pdfOfSizes({{100, 100}});
  EXPECT_THROW(
      {
        try {
          a.inspect(100, kA4Margins, 60, 0);
        } catch (const PrintFailure& e) {
          EXPECT_STREQ(e.what(), "Invalid printer offset.");
          throw;
        }
      },
      PrintFailure);
  EXPECT_THROW(a.inspect(100, PaperGeometry{}, 0, 0), PrintFailure);
}

TEST(Inspection, PngReportsItsResolution) {
  testing::TempDir dir;
  testing::PngOptions s;
  s.width = 3000;
  s.height = 1500;
  const Artwork a = Artwork::load(dir.write("a.png", testing::makePng(s)), 300.0);
  const DocumentInfo info = a.inspect(100, std::nullopt, 0, 0);
  EXPECT_EQ(info.pages[0].widthMm, 254);
  EXPECT_EQ(info.pages[0].heightMm, 127);
  EXPECT_EQ(info.dpiX, 300);
  EXPECT_EQ(info.dpiY, 300);
  EXPECT_EQ(info.format, "PNG");
  EXPECT_EQ(info.sourceColorProfile, "Untagged PNG \xE2\x80\x94 assumed sRGB");
  EXPECT_EQ(info.warnings.back(), kSaveSettings);
  EXPECT_EQ(info.warnings.size(), 4u);
}

TEST(ColorManagementSettings, PrinterModeLeavesTheArtworkAlone) {
  const Artwork a = pdfOfSizes({{100, 100}});
  const Artwork managed = a.applyingColorManagement(ColorManagement::printer(), 100, false);
  EXPECT_EQ(managed.warnings, a.warnings);
  EXPECT_EQ(managed.colorManagement, "Printer-managed");
  ColorManagement bad = ColorManagement::printer();
  bad.renderingIntent = "vivid";
  EXPECT_THROW(a.applyingColorManagement(bad, 100, false), PrintFailure);
}

}  // namespace
}  // namespace vardelle::artwork
