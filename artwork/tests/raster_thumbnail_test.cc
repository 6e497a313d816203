// The thumbnail of a raster page is averaged straight from its samples; it must show the same
// picture as the one-sheet PDF that Ghostscript renders for the same request.
#include "artwork/raster_thumbnail.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

#include "artwork/color_managed.h"
#include "artwork/placement.h"
#include "artwork/preview.h"
#include "color/output_profile.h"
#include "testing/icc_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/raster_probe.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using Colour = std::array<int, 3>;
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kField{30, 110, 200};  // most of the picture
constexpr Colour kBlock{220, 60, 20};   // its top-left corner: shows a flip or a turn

/// 120 × 80 samples: the field with the block in the top-left 40 × 30. With `alpha`, every
/// sample is half transparent.
testing::PngOptions picture(int colorType, int bitDepth, double dpi) {
  testing::PngOptions png;
  png.width = 120;
  png.height = 80;
  png.colorType = colorType;
  png.bitDepth = bitDepth;
  png.pixelsPerMeterX = png.pixelsPerMeterY = testing::pixelsPerMeter(dpi);
  const bool gray = colorType == 0 || colorType == 4;
  png.sample = [gray](uint32_t x, uint32_t y, int c) -> unsigned {
    const int colorChannels = gray ? 1 : 3;
    if (c == colorChannels) return 128;
    const Colour& colour = x < 40 && y < 30 ? kBlock : kField;
    return unsigned(gray ? colour[1] : colour[c]);
  };
  return png;
}

Colour over(Colour c, bool halfTransparent, bool gray) {
  Colour out = c;
  if (gray) out = {c[1], c[1], c[1]};
  if (halfTransparent) {
    for (int& v : out) v = int(std::lround((v * 128 + 255 * 127) / 255.0));
  }
  return out;
}

int distance(const testing::DecodedImage::Pixel& p, const Colour& c) {
  return std::abs(p.r - c[0]) + std::abs(p.g - c[1]) + std::abs(p.b - c[2]);
}

/// Whether a pixel shows (within 12 levels, Euclidean) a mix of some of `colours`: where a
/// corner of the picture meets an edge inside it, one pixel mixes three.
bool isMix(const testing::DecodedImage::Pixel& p, const std::vector<Colour>& colours) {
  constexpr int kSteps = 64;
  const std::vector<Colour>& k = colours;
  const size_t n = k.size();
  for (size_t a = 0; a < n; ++a) {
    for (size_t b = a; b < n; ++b) {
      for (size_t c = b; c < n; ++c) {
        for (int i = 0; i <= kSteps; ++i) {
          for (int j = 0; i + j <= kSteps; ++j) {
            const double u = double(i) / kSteps, v = double(j) / kSteps, w = 1 - u - v;
            double off = 0;
            const int channel[3] = {p.r, p.g, p.b};
            for (int ch = 0; ch < 3; ++ch) {
              off += std::pow(channel[ch] - (u * k[a][ch] + v * k[b][ch] + w * k[c][ch]), 2);
            }
            if (off < 144) return true;
          }
        }
      }
    }
  }
  return false;
}

/// Compares a thumbnail with the reference rendering: every pixel, opaque, must show one of the
/// expected colours that the reference shows within one pixel, or a mix of them (edges
/// may move by one pixel and edge pixels mix their neighbours); and pixels well inside a region
/// (the reference interpolates enlarged samples, which smears a few pixels on each side of an edge)
/// must agree within `tolerance` per channel: with the reference, or with the expected colour
/// when `exactColours` (Ghostscript composites a soft mask over white with channels mixed
/// unequally, some 7 levels off; the sum α·colour + (1 − α)·white is what the sheet means).
void expectSamePicture(const testing::DecodedImage& fast, const testing::DecodedImage& reference,
                       const std::vector<Colour>& colours, int tolerance,
                       bool exactColours = false) {
  ASSERT_EQ(fast.width, reference.width);
  ASSERT_EQ(fast.height, reference.height);
  auto classOf = [&](const testing::DecodedImage& image, int x, int y) {
    size_t best = 0;
    for (size_t k = 1; k < colours.size(); ++k) {
      if (distance(image.at(x, y), colours[k]) < distance(image.at(x, y), colours[best])) best = k;
    }
    return best;
  };
  int misplaced = 0, miscoloured = 0, drawn = 0;
  for (int y = 0; y < fast.height; ++y) {
    for (int x = 0; x < fast.width; ++x) {
      ASSERT_EQ(fast.at(x, y).a, 255);
      const size_t mine = classOf(fast, x, y);
      drawn += mine != 0;
      bool uniform = true;
      std::vector<bool> shown(colours.size(), false);
      constexpr int kInside = 6;
      for (int dy = -kInside; dy <= kInside; ++dy) {
        for (int dx = -kInside; dx <= kInside; ++dx) {
          const int nx = std::clamp(x + dx, 0, fast.width - 1);
          const int ny = std::clamp(y + dy, 0, fast.height - 1);
          const size_t theirs = classOf(reference, nx, ny);
          if (std::abs(dx) <= 1 && std::abs(dy) <= 1) shown[theirs] = true;
          uniform = uniform && theirs == mine && classOf(fast, nx, ny) == mine;
        }
      }
      std::vector<Colour> nearby;
      for (size_t k = 0; k < colours.size(); ++k) {
        if (shown[k]) nearby.push_back(colours[k]);
      }
      const bool near = shown[mine] || isMix(fast.at(x, y), nearby);
      if (!near && ++misplaced <= 5) {
        const auto a = fast.at(x, y);
        ADD_FAILURE() << "pixel " << x << "," << y << " (" << a.r << " " << a.g << " " << a.b
                      << ") is no colour the reference shows within one pixel, nor a mix of two";
      }
      if (uniform) {
        const auto a = fast.at(x, y);
        const auto b = exactColours
                           ? testing::DecodedImage::Pixel{colours[mine][0], colours[mine][1],
                                                          colours[mine][2], 255}
                           : reference.at(x, y);
        if ((std::abs(a.r - b.r) > tolerance || std::abs(a.g - b.g) > tolerance ||
             std::abs(a.b - b.b) > tolerance) &&
            ++miscoloured <= 5) {
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << a.r << " " << a.g << " " << a.b
                        << " against " << b.r << " " << b.g << " " << b.b;
        }
      }
    }
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_EQ(miscoloured, 0);
  EXPECT_GT(drawn, 100);
}

struct Case {
  const char* name;
  PaperGeometry paper;
  int colorType;
  int bitDepth;
  double dpi;
  double scalePercent;
  double offsetXmm;
  double offsetYmm;
};

TEST(RasterThumbnail, ShowsTheSamePictureAsTheRenderedSheet) {
  const Case cases[] = {
      {"centred on A4",
       {595.2755905511812, 841.8897637795276, 18, 18, 559.28, 805.89},
       2,
       8,
       30,
       100,
       0,
       0},
      {"offset on landscape Letter, enlarged, 16-bit with alpha",
       {792, 612, 18, 18, 756, 576},
       6,
       16,
       50,
       170,
       -31.7,
       22.3},
      {"cut by wide margins on two sides, grey with alpha",
       {400, 300, 60, 45, 300, 215},
       4,
       8,
       24,
       100,
       5,
       -4},
      {"shrunk to a few pixels per sample, 16-bit grey",
       {2000, 1500, 0, 0, 2000, 1500},
       0,
       16,
       150,
       37,
       5,
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const Artwork artwork = Artwork::load(
        dir.write("picture.png", testing::makePng(picture(c.colorType, c.bitDepth, c.dpi))),
        std::nullopt);
    auto fast = testing::decodePng(
        makeThumbnail(artwork, c.paper, c.scalePercent, c.offsetXmm, c.offsetYmm));
    auto reference = testing::decodePng(
        makeSheetThumbnail(artwork, c.paper, c.scalePercent, c.offsetXmm, c.offsetYmm));
    ASSERT_TRUE(fast && reference);
    const bool alpha = c.colorType >= 4, gray = c.colorType == 0 || c.colorType == 4;
    expectSamePicture(*fast, *reference,
                      {kWhite, over(kField, alpha, gray), over(kBlock, alpha, gray)}, 3, alpha);
  }
}

TEST(RasterThumbnail, ShowsATaggedPictureInItsOwnColours) {
  testing::TempDir dir;
  testing::PngOptions png = picture(2, 8, 40);
  const std::string profile = testing::makeMatrixShaperRgbProfile("Wide Display");
  png.iccProfile.assign(profile.begin(), profile.end());
  const Artwork artwork =
      Artwork::load(dir.write("tagged.png", testing::makePng(png)), std::nullopt);
  const PaperGeometry paper{612, 792, 18, 18, 576, 756};
  auto fast = testing::decodePng(makeThumbnail(artwork, paper, 100, 0, 0));
  auto reference = testing::decodePng(makeSheetThumbnail(artwork, paper, 100, 0, 0));
  ASSERT_TRUE(fast && reference);
  // The reference's own colours for the field and the block: the profile changes them.
  const int cx = reference->width / 2, cy = reference->height / 2;
  const auto field = reference->at(cx + 20, cy + 10);
  EXPECT_GT(distance(field, kField), 6) << "the profile should change the colours";
  const double s = 1200.0 / 792;
  const auto block = reference->at(int((612 - 216) / 2 * s) + 5, int((792 - 144) / 2 * s) + 5);
  expectSamePicture(*fast, *reference,
                    {kWhite, {field.r, field.g, field.b}, {block.r, block.g, block.b}}, 4);
}

TEST(RasterThumbnail, ShowsATurnedPdfPageConvertedToThePrinterProfileAsTheSheetDoes) {
  testing::TempDir dir;
  const std::string printer = testing::makeLutRgbPrinterProfile("Studio Baryta", 17, true);
  ColorManagement settings;
  settings.mode = "application";
  settings.profilePath = dir.write("printer.icc", printer);
  settings.profileId = color::profileId(printer);
  settings.renderingIntent = "relativeColorimetric";
  settings.blackPointCompensation = true;
  settings.driverColorManagementDisabled = true;
  // A landscape page turned upright by /Rotate 90, its corner marked: after conversion it is a
  // raster page, drawn by the averaging path.
  testing::FixturePage page;
  page.mediaBox = {0, 0, 144, 96};
  page.rotate = 90;
  page.content = testing::fillRect(0, 0, 144, 96, 30 / 255.0, 110 / 255.0, 200 / 255.0) +
                 testing::fillRect(0, 60, 48, 36, 220 / 255.0, 60 / 255.0, 20 / 255.0);
  const Artwork converted =
      Artwork::load(dir.write("turned.pdf", testing::makeFixturePdf({page})), std::nullopt)
          .applyingColorManagement(settings, 60, true);
  ASSERT_TRUE(converted.pages.front().png());
  const PaperGeometry paper{300, 400, 10, 10, 280, 380};
  auto fast = testing::decodePng(makeThumbnail(converted, paper, 60, 8, -5));
  auto reference = testing::decodePng(makeSheetThumbnail(converted, paper, 60, 8, -5));
  ASSERT_TRUE(fast && reference);
  // The printer profile shows its own colours: take them from the reference's interior. The
  // page's top-left corner comes up at the top right once turned clockwise.
  const double s = 1200.0 / 400;
  const PagePlacement p = placement(converted.pages.front().naturalSize(), 60, paper, 8, -5);
  const int left = int(p.rect.x * s), top = int((400 - p.rect.y - p.rect.height) * s);
  const auto block = reference->at(left + int(p.rect.width * s) - 4, top + 4);
  const auto field = reference->at(left + 4, top + int(p.rect.height * s) - 4);
  ASSERT_GT(distance(block, {field.r, field.g, field.b}), 60);
  expectSamePicture(*fast, *reference,
                    {kWhite, {field.r, field.g, field.b}, {block.r, block.g, block.b}}, 4);
}

}  // namespace
}  // namespace vardelle::artwork
