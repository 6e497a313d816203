// PDF pages under application-managed colour: rendered by Ghostscript into the working space.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "artwork/color_managed.h"
#include "artwork/preview.h"
#include "color/output_profile.h"
#include "testing/icc_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

struct Printer {
  testing::TempDir dir;
  std::string bytes = testing::makeLutRgbPrinterProfile("Studio Baryta", 17, true);
  std::string path = dir.write("printer.icc", bytes);

  ColorManagement settings() const {
    ColorManagement s;
    s.mode = "application";
    s.profilePath = path;
    s.profileId = color::profileId(bytes);
    s.renderingIntent = "relativeColorimetric";
    s.blackPointCompensation = true;
    s.driverColorManagementDisabled = true;
    return s;
  }
};

/// A page painted with an axial black-to-white shading from left to right (hand-written: the
/// shading needs a resource).
std::string gradientPdf(double width, double height) {
  char box[96];
  std::snprintf(box, sizeof box, "[0 0 %.4f %.4f]", width, height);
  char coords[96];
  std::snprintf(coords, sizeof coords, "[0 0 %.4f 0]", width);
  const std::string content = "/Sh0 sh\n";
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box +
         " /Resources << /Shading << /Sh0 5 0 R >> >> /Contents 4 0 R >>");
  object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream");
  object(std::string("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords ") + coords +
         " /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>"
         " /Extend [true true] >>");
  size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[21];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

const uint16_t* pixelAt(const Pixels& p, uint32_t x, uint32_t y) {
  return reinterpret_cast<const uint16_t*>(p.bytes.data()) + (size_t(y) * p.width + x) * 3;
}

TEST(ManagedPdf, AGradientKeepsFarMoreThan256LevelsThroughRasterAndConversion) {
  Printer printer;
  testing::TempDir dir;
  Artwork a = Artwork::load(dir.write("g.pdf", gradientPdf(720, 24)), std::nullopt);
  Artwork managed = a.applyingColorManagement(printer.settings(), 100, true);
  const PngPage* page = managed.pages.front().png();
  ASSERT_TRUE(page && page->pixels);
  const Pixels& p = *page->pixels;
  ASSERT_EQ(p.width, 3000u);
  ASSERT_EQ(p.height, 100u);
  std::set<uint16_t> levels;
  uint16_t previous = 0;
  bool rising = true;
  for (uint32_t x = 0; x < p.width; ++x) {
    const uint16_t g = pixelAt(p, x, 50)[1];
    levels.insert(g);
    if (x > 0 && g + 64 < previous) rising = false;
    previous = g;
  }
  EXPECT_GT(levels.size(), 1500u);
  EXPECT_TRUE(rising);
  EXPECT_LT(pixelAt(p, 0, 50)[1], 4000);
  EXPECT_GT(pixelAt(p, p.width - 1, 50)[1], 60000);
}

TEST(ManagedPdf, TheVisibleBoxFillsTheRasterUpright) {
  Printer printer;
  testing::TempDir dir;
  // A 144 × 72 pt media box cropped to its right 72 × 72, turned a quarter: red in the crop box's
  // left half, which ends up on top once the page stands upright.
  testing::FixturePage page;
  page.mediaBox = {0, 0, 144, 72};
  page.cropBox = testing::PdfBox{72, 0, 144, 72};
  page.rotate = 90;
  page.content =
      testing::fillRect(0, 0, 144, 72, 0, 0, 1) + testing::fillRect(72, 0, 36, 72, 1, 0, 0);
  Artwork a = Artwork::load(dir.write("r.pdf", testing::makeFixturePdf({page})), std::nullopt);
  Artwork managed = a.applyingColorManagement(printer.settings(), 50, true);
  const Pixels& p = *managed.pages.front().png()->pixels;
  ASSERT_EQ(p.width, 150u);
  ASSERT_EQ(p.height, 150u);
  auto red = [&](uint32_t x, uint32_t y) {
    const uint16_t* px = pixelAt(p, x, y);
    return px[0] > 40000 && px[2] < 20000;
  };
  auto blue = [&](uint32_t x, uint32_t y) {
    const uint16_t* px = pixelAt(p, x, y);
    return px[2] > 40000 && px[0] < 20000;
  };
  EXPECT_TRUE(red(2, 2));
  EXPECT_TRUE(red(147, 70));
  EXPECT_TRUE(blue(2, 80));
  EXPECT_TRUE(blue(147, 147));
  EXPECT_EQ(managed.pages.front().naturalSize().width, a.pages.front().naturalSize().width);
}

TEST(ManagedPdf, ThePreviewEmbedsTheConvertedPageAt16BitsWithThePrinterProfile) {
  Printer printer;
  testing::TempDir dir;
  testing::FixturePage page;
  page.mediaBox = {0, 0, 72, 72};
  page.content = testing::fillRect(0, 0, 72, 72, 0.2, 0.4, 0.6);
  Artwork a = Artwork::load(dir.write("p.pdf", testing::makeFixturePdf({page})), std::nullopt);
  Artwork managed = a.applyingColorManagement(printer.settings(), 100, true);
  PaperGeometry paper;
  paper.width = 200;
  paper.height = 200;
  paper.imageableWidth = 200;
  paper.imageableHeight = 200;
  const std::string pdf = makePreview(managed, paper, 100, 0, 0);
  EXPECT_NE(pdf.find("/BitsPerComponent 16"), std::string::npos);
  EXPECT_NE(pdf.find("/ICCBased"), std::string::npos);
  // The profile stream is the printer profile, stored as it is or compressed.
  EXPECT_NE(pdf.find("/N 3"), std::string::npos);
  const std::string png = makeThumbnail(managed, paper, 100, 0, 0);
  EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
}

}  // namespace
}  // namespace vardelle::artwork
