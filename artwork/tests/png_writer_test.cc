#include "artwork/png_writer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/print_failure.h"
#include "testing/raster_probe.h"

namespace vardelle::artwork {
namespace {

TEST(PngWriter, WritesRgbaWithPhysicalResolutionAndSrgb) {
  RgbaImage image{3, 2, {}};
  for (int i = 0; i < 6; ++i) {
    image.pixels.insert(image.pixels.end(), {static_cast<unsigned char>(i * 40), 7, 200, 255});
  }
  image.pixels[4 * 4 + 3] = 128;                     // one translucent pixel survives as is
  const double dpi = 1200 / 841.8897637795276 * 72;  // A4's thumbnail scale
  auto decoded = testing::decodePng(encodePng(image, dpi));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 3);
  EXPECT_EQ(decoded->height, 2);
  EXPECT_EQ(decoded->bitDepth, 8);
  EXPECT_EQ(decoded->colorType, 6);  // RGBA
  EXPECT_EQ(decoded->rgba, image.pixels);
  EXPECT_TRUE(decoded->hasSrgbChunk);
  ASSERT_TRUE(decoded->pixelsPerMetreX);
  EXPECT_EQ(*decoded->pixelsPerMetreX, std::lround(dpi / 0.0254));
  EXPECT_EQ(*decoded->pixelsPerMetreY, *decoded->pixelsPerMetreX);
  EXPECT_NEAR(*decoded->pixelsPerMetreX * 0.0254, 102.626, 0.02);
}

TEST(PngWriter, RefusesABufferThatDoesNotMatchItsSize) {
  EXPECT_THROW(encodePng({2, 2, std::vector<unsigned char>(15)}, 72), PlatformError);
  EXPECT_THROW(encodePng({0, 2, {}}, 72), PlatformError);
  EXPECT_THROW(encodePng({1, 1, std::vector<unsigned char>(4)}, 0), PlatformError);
}

}  // namespace
}  // namespace vardelle::artwork
