#include "artwork/rasterizer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/print_failure.h"
#include "testing/pdf_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::FixturePage;

// 200 × 100 pt: red on the left half, a blue 20 pt square at the upper right, white elsewhere.
std::string twoColourPdf() {
  FixturePage page;
  page.mediaBox = {0, 0, 200, 100};
  page.content =
      testing::fillRect(0, 0, 100, 100, 1, 0, 0) + testing::fillRect(180, 80, 20, 20, 0, 0, 1);
  FixturePage second = page;
  second.content = testing::fillRect(0, 0, 200, 100, 0, 1, 0);
  return testing::makeFixturePdf({page, second});
}

const unsigned char* pixel(const RgbRaster& r, int x, int y) {
  return r.pixels.data() + r.rowBytes() * y + x * 3 * (r.bitsPerComponent / 8);
}

TEST(Rasterizer, RendersThePageAtTheExactPixelSizeWithEachAxisScaledOnItsOwn) {
  // 301 × 77 px for a 200 × 100 pt page: unequal resolutions on the two axes.
  RgbRaster r = rasterizeFirstPage(twoColourPdf(), {301, 77, 200, 100});
  ASSERT_EQ(r.width, 301);
  ASSERT_EQ(r.height, 77);
  ASSERT_EQ(r.pixels.size(), 301u * 77 * 3);
  const unsigned char* left = pixel(r, 10, 40);
  EXPECT_GT(left[0], 240);
  EXPECT_LT(left[1], 20);
  const unsigned char* right = pixel(r, 250, 60);
  EXPECT_EQ(right[0], 255);
  EXPECT_EQ(right[1], 255);
  EXPECT_EQ(right[2], 255);
  // The blue square occupies the top-right 30 × 15 px (rows top first), only page 1 drawn.
  const unsigned char* blue = pixel(r, 295, 3);
  EXPECT_LT(blue[0], 20);
  EXPECT_GT(blue[2], 200);
  EXPECT_EQ(pixel(r, 265, 20)[2], 255);
  EXPECT_EQ(pixel(r, 265, 20)[0], 255);
}

TEST(Rasterizer, SixteenBitOutputInAnotherProfileKeepsFineLevels) {
  RasterRequest request{40, 20, 200, 100, 16, "rommrgb.icc"};
  RgbRaster r = rasterizeFirstPage(twoColourPdf(), request);
  ASSERT_EQ(r.bitsPerComponent, 16);
  ASSERT_EQ(r.pixels.size(), 40u * 20 * 6);
  const unsigned char* white = pixel(r, 30, 15);
  EXPECT_EQ(white[0], 0xff);
  EXPECT_EQ(white[1], 0xff);
  // Red in ROMM RGB is not saturated; the other channels keep values below full scale.
  const unsigned char* red = pixel(r, 5, 10);
  const int green = red[2] << 8 | red[3];
  EXPECT_LT(green, 0xffff);
}

TEST(Rasterizer, ReadsAnOutputProfileFromAnyPathUnderSafer) {
  testing::TempDir dir;
  std::string ghostscriptProfile;
  for (auto& e : std::filesystem::recursive_directory_iterator(
           "/usr/share/ghostscript",
           std::filesystem::directory_options::follow_directory_symlink)) {
    if (e.path().filename() == "rommrgb.icc") ghostscriptProfile = e.path().string();
  }
  const std::string profile = dir.write("working space.icc", testing::readFile(ghostscriptProfile));
  ASSERT_GT(testing::readFile(profile).size(), 100u);
  RgbRaster byPath = rasterizeFirstPage(twoColourPdf(), {40, 20, 200, 100, 16, profile});
  RgbRaster byName = rasterizeFirstPage(twoColourPdf(), {40, 20, 200, 100, 16, "rommrgb.icc"});
  EXPECT_EQ(byPath.pixels, byName.pixels);
  EXPECT_THROW(rasterizeFirstPage(twoColourPdf(), {40, 20, 200, 100, 16, dir.file("missing.icc")}),
               PlatformError);
}

TEST(Rasterizer, KeepsGhostscriptOffStandardOutputAndReportsBrokenInput) {
  testing::TempDir dir;
  const std::string capture = dir.file("stdout");
  int saved = ::dup(1);
  int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 1);
  ::close(fd);
  bool threw = false;
  try {
    rasterizeFirstPage("%PDF-1.7\nthis is not a PDF", {10, 10, 100, 100});
  } catch (const PlatformError&) {
    threw = true;
  }
  rasterizeFirstPage(twoColourPdf(), {10, 10, 200, 100});
  ::dup2(saved, 1);
  ::close(saved);
  EXPECT_TRUE(threw);
  EXPECT_EQ(testing::readFile(capture), "");
}

TEST(Rasterizer, RefusesAPdfThatNeedsAPasswordBeforeGhostscriptSeesIt) {
  const std::string locked = testing::encryptPdf(twoColourPdf(), "secret", true);
  try {
    rasterizeFirstPage(locked, {10, 10, 200, 100});
    FAIL() << "a locked PDF was rendered";
  } catch (const PrintFailure& e) {
    EXPECT_STREQ(e.what(), "Unlock this password-protected PDF before printing.");
  }
  // Encrypted for its owner only, it opens without a password and renders.
  RgbRaster r =
      rasterizeFirstPage(testing::encryptPdf(twoColourPdf(), "", true), {20, 10, 200, 100});
  EXPECT_GT(r.pixels[0], 240);
  EXPECT_LT(r.pixels[1], 20);
}

TEST(Rasterizer, LeavesNoTemporaryFileBehind) {
  testing::TempDir dir;
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  rasterizeFirstPage(twoColourPdf(), {10, 10, 200, 100});
  ::unsetenv("TMPDIR");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 0);
}

}  // namespace
}  // namespace vardelle::artwork
