#include <gtest/gtest.h>

#include <cmath>

#include "artwork/preview.h"
#include "base/print_failure.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/raster_probe.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::FixturePage;

const PaperGeometry kA4{595.2755905511812, 841.8897637795276, 18, 18,
                        559.2755905511812, 805.8897637795276};
const PaperGeometry kLetterLandscape{792, 612, 18, 18, 756, 576};

FixturePage filled(double width, double height, double r, double g, double b) {
  FixturePage page;
  page.mediaBox = {0, 0, width, height};
  page.content = testing::fillRect(0, 0, width, height, r, g, b);
  return page;
}

Artwork load(const testing::TempDir& dir, const std::vector<FixturePage>& pages) {
  return Artwork::load(dir.write("artwork.pdf", testing::makeFixturePdf(pages)), std::nullopt);
}

bool isWhite(testing::DecodedImage::Pixel p) {
  return p.r == 255 && p.g == 255 && p.b == 255 && p.a == 255;
}

TEST(Thumbnail, A4IsOpaqueSrgbOfTheExactSizeWithItsPhysicalResolution) {
  testing::TempDir dir;
  const Artwork artwork = load(dir, {filled(300, 200, 1, 0, 0)});
  auto png = testing::decodePng(makeThumbnail(artwork, kA4, 100, 0, 0));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 849);
  EXPECT_EQ(png->height, 1200);
  EXPECT_EQ(png->bitDepth, 8);
  EXPECT_EQ(png->colorType, 6);
  EXPECT_TRUE(png->hasSrgbChunk);
  ASSERT_TRUE(png->pixelsPerMetreX && png->pixelsPerMetreY);
  // s × 72 = 102.626 DPI on both axes, whole pixels per metre.
  EXPECT_EQ(*png->pixelsPerMetreX, 4040u);
  EXPECT_EQ(*png->pixelsPerMetreY, 4040u);

  // The placed page (centred, 300 × 200 pt) is red, everything else opaque white.
  const double s = 1200 / kA4.height;
  const int left = int(std::lround((kA4.width - 300) / 2 * s));
  const int top = int(std::lround((kA4.height - 200) / 2 * s));
  auto inside = png->at(left + 5, top + 5);
  EXPECT_GT(inside.r, 240);
  EXPECT_LT(inside.g, 15);
  EXPECT_TRUE(isWhite(png->at(left - 3, top + 20)));
  EXPECT_TRUE(isWhite(png->at(left + 20, top - 3)));
  EXPECT_TRUE(isWhite(png->at(left + int(300 * s) + 3, top + 20)));
  for (int y = 0; y < png->height; ++y) {
    for (int x : {0, png->width - 1}) ASSERT_TRUE(isWhite(png->at(x, y)));
  }
  for (int x = 0; x < png->width; ++x) {
    for (int y : {0, png->height - 1}) ASSERT_TRUE(isWhite(png->at(x, y)));
  }
}

TEST(Thumbnail, LandscapeLetterIs1200By928AndTheMarginsStayWhite) {
  testing::TempDir dir;
  // The page covers the whole sheet; only the printable area may show it.
  const Artwork artwork = load(dir, {filled(792, 612, 0, 0, 1)});
  auto png = testing::decodePng(makeThumbnail(artwork, kLetterLandscape, 100, 0, 0));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 1200);
  EXPECT_EQ(png->height, 928);
  EXPECT_EQ(*png->pixelsPerMetreX, uint32_t(std::lround(1200.0 / 792 * 72 / 0.0254)));
  const double s = 1200.0 / 792;
  const int margin = int(18 * s);  // 27 px
  for (int d = 0; d < margin - 1; ++d) {
    EXPECT_TRUE(isWhite(png->at(d, 400))) << d;
    EXPECT_TRUE(isWhite(png->at(600, d))) << d;
    EXPECT_TRUE(isWhite(png->at(1199 - d, 400))) << d;
    EXPECT_TRUE(isWhite(png->at(600, int(612 * s) - 1 - d))) << d;
  }
  auto centre = png->at(600, 464);
  EXPECT_LT(centre.r, 20);
  EXPECT_GT(centre.b, 200);
}

TEST(Thumbnail, DrawsOnlyTheFirstPage) {
  testing::TempDir dir;
  const Artwork artwork =
      load(dir, {filled(200, 200, 1, 0, 0), filled(400, 400, 0, 0, 1), filled(300, 300, 0, 1, 0)});
  auto png = testing::decodePng(makeThumbnail(artwork, kA4, 100, 0, 0));
  ASSERT_TRUE(png);
  int red = 0, other = 0;
  for (int y = 0; y < png->height; ++y) {
    for (int x = 0; x < png->width; ++x) {
      auto p = png->at(x, y);
      if (p.r > 200 && p.g < 60 && p.b < 60) {
        ++red;
      } else if (!isWhite(p) && !(p.r > 200)) {
        ++other;
      }
    }
  }
  const double s = 1200 / kA4.height;
  EXPECT_NEAR(red, 200 * s * 200 * s, 200 * s * 4);
  EXPECT_EQ(other, 0);
}

TEST(Thumbnail, RefusesWhenALaterPageDoesNotFit) {
  testing::TempDir dir;
  const Artwork artwork = load(dir, {filled(200, 200, 1, 0, 0), filled(600, 900, 0, 0, 1)});
  try {
    makeThumbnail(artwork, kA4, 100, 0, 0);
    FAIL() << "no refusal";
  } catch (const PrintFailure& e) {
    EXPECT_STREQ(e.what(),
                 "The artwork exceeds the paper. Choose a smaller scale or larger paper before "
                 "previewing.");
  }
}

TEST(Thumbnail, TranslucentPngIsComposedOnWhite) {
  testing::TempDir dir;
  testing::PngOptions spec;
  spec.width = 40;
  spec.height = 30;
  spec.colorType = 4;  // grey + alpha
  spec.pixelsPerMeterX = testing::pixelsPerMeter(10);
  const Artwork artwork = Artwork::load(dir.write("a.png", testing::makePng(spec)), std::nullopt);
  auto png = testing::decodePng(makeThumbnail(artwork, kA4, 100, 0, 0));
  ASSERT_TRUE(png);
  bool drawn = false;
  for (int y = 0; y < png->height; ++y) {
    for (int x = 0; x < png->width; ++x) {
      ASSERT_EQ(png->at(x, y).a, 255);
      drawn = drawn || !isWhite(png->at(x, y));
    }
  }
  EXPECT_TRUE(drawn);
}

}  // namespace
}  // namespace vardelle::artwork
