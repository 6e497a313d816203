#include "artwork/device_raster.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "artwork/placement.h"
#include "base/print_failure.h"
#include "testing/converted_page.h"

namespace vardelle::artwork {
namespace {

using Sample = std::array<std::uint16_t, 3>;
constexpr Sample kWhite{65535, 65535, 65535};

// A converted page whose every sample names its own place: red its column, green its row.
std::shared_ptr<Pixels> namedSamples(std::uint32_t width, std::uint32_t height) {
  return testing::rgb16Pixels(width, height, [](std::uint32_t x, std::uint32_t y) {
    return Sample{std::uint16_t(x), std::uint16_t(y), 7};
  });
}

using testing::convertedPage;

PaperGeometry paperOf(double width, double height, double margin) {
  return {width, height, margin, margin, width - 2 * margin, height - 2 * margin};
}

// The grid of a driver that covers the whole media at `dpiX` × `dpiY`.
DeviceGrid gridFor(Size media, double dpiX, double dpiY, int turn) {
  DeviceGrid grid;
  grid.width = std::uint32_t(std::lround(media.width * dpiX / 72));
  grid.height = std::uint32_t(std::lround(media.height * dpiY / 72));
  grid.dpiX = dpiX, grid.dpiY = dpiY;
  grid.area = {0, 0, media.width, media.height};
  grid.media = media;
  grid.turn = turn;
  return grid;
}

// Every device row as drawn, checking that each is handed over once and in order.
struct DeviceImage {
  std::uint32_t width = 0;
  std::vector<Sample> samples;
  Sample at(std::uint32_t x, std::uint32_t y) const { return samples[std::size_t(y) * width + x]; }
};

DeviceImage draw(const ArtworkPage& page, const PaperGeometry& paper, const DeviceGrid& grid,
                 double scale = 100, double offsetX = 0, double offsetY = 0) {
  DeviceImage image;
  image.width = grid.width;
  std::uint32_t nextRow = 0;
  drawDeviceSheet(page, paper, scale, offsetX, offsetY, grid,
                  [&](std::uint32_t first, std::uint32_t count, const std::uint16_t* row) {
                    EXPECT_EQ(first, nextRow);
                    EXPECT_GT(count, 0u);
                    nextRow = first + count;
                    for (std::uint32_t r = 0; r < count; ++r) {
                      for (std::uint32_t x = 0; x < grid.width; ++x) {
                        image.samples.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
                      }
                    }
                  });
  EXPECT_EQ(nextRow, grid.height);
  return image;
}

// The bounds of the pixels that are not white: left, top, right, bottom (exclusive).
std::array<std::uint32_t, 4> shownBounds(const DeviceImage& image) {
  const std::uint32_t height = std::uint32_t(image.samples.size() / image.width);
  std::array<std::uint32_t, 4> b{image.width, height, 0, 0};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      if (image.at(x, y) == kWhite) continue;
      b[0] = std::min(b[0], x), b[1] = std::min(b[1], y);
      b[2] = std::max(b[2], x + 1), b[3] = std::max(b[3], y + 1);
    }
  }
  return b;
}

TEST(DeviceRaster, PageLandsOnItsPlacedRectangleWithTheSampleUnderEachPixelCentre) {
  // A 2 × 1 inch page at 150 px/in, on a 4 × 3 inch sheet, moved 4.5 mm right and 3 mm up,
  // drawn at 720 × 360 dpi: edges within half a device pixel of the placed rectangle.
  const PaperGeometry paper = paperOf(288, 216, 0);
  const ArtworkPage page = convertedPage(namedSamples(300, 150), 150, false);
  const DeviceGrid grid = gridFor(paper.size(), 720, 360, 0);
  const DeviceImage image = draw(page, paper, grid, 100, 4.5, -3);
  const PagePlacement placed = placement(page.naturalSize(), 100, paper, 4.5, -3);
  const auto b = shownBounds(image);
  EXPECT_NEAR(b[0], placed.rect.x * 10, 0.5);
  EXPECT_NEAR(b[2], (placed.rect.x + placed.rect.width) * 10, 0.5);
  EXPECT_NEAR(b[1], (216 - placed.rect.y - placed.rect.height) * 5, 0.5);
  EXPECT_NEAR(b[3], (216 - placed.rect.y) * 5, 0.5);
  // Each device pixel shows the sample under its centre: 720 / 150 device columns per sample.
  for (std::uint32_t x = b[0]; x < b[2]; x += 37) {
    for (std::uint32_t y = b[1]; y < b[3]; y += 11) {
      const double pageX = ((x + 0.5) / 10 - placed.rect.x) * 150 / 72;
      const double pageY = ((y + 0.5) / 5 - (216 - placed.rect.y - placed.rect.height)) * 150 / 72;
      EXPECT_EQ(image.at(x, y), (Sample{std::uint16_t(pageX), std::uint16_t(pageY), 7}))
          << x << "," << y;
    }
  }
}

TEST(DeviceRaster, PrintableAreaClipsAndTheRestIsWhite) {
  // A page as large as the sheet, whose printable area keeps 18 pt at every edge.
  const PaperGeometry paper = paperOf(144, 144, 18);
  const ArtworkPage page = convertedPage(namedSamples(200, 200), 100, false);
  const DeviceImage image = draw(page, paper, gridFor(paper.size(), 300, 300, 0));
  EXPECT_EQ(shownBounds(image), (std::array<std::uint32_t, 4>{75, 75, 525, 525}));
  EXPECT_EQ(image.at(75, 75), (Sample{25, 25, 7}));
  EXPECT_EQ(image.at(74, 300), kWhite);
}

TEST(DeviceRaster, TurnedSheetsLieAsTheFiltersTurnThem) {
  // A landscape sheet on portrait media. Turned counter-clockwise (Plus90) its left edge lies
  // on the media's bottom edge, so the page's top-right corner is the device's top-left; turned
  // clockwise (Minus90) the page's bottom-left corner is.
  const PaperGeometry landscape = paperOf(216, 144, 0);
  const ArtworkPage page = convertedPage(namedSamples(300, 200), 100, false);
  const Size portrait{144, 216};
  const DeviceImage plus = draw(page, landscape, gridFor(portrait, 200, 200, 90));
  EXPECT_EQ(plus.at(0, 0), (Sample{299, 0, 7}));
  EXPECT_EQ(plus.at(399, 599), (Sample{0, 199, 7}));
  EXPECT_EQ(plus.at(0, 599), (Sample{0, 0, 7}));
  const DeviceImage minus = draw(page, landscape, gridFor(portrait, 200, 200, -90));
  EXPECT_EQ(minus.at(0, 0), (Sample{0, 199, 7}));
  EXPECT_EQ(minus.at(399, 0), (Sample{0, 0, 7}));
  EXPECT_EQ(minus.at(399, 599), (Sample{299, 0, 7}));
}

TEST(DeviceRaster, PagesMadeRowByRowDrawTheSameAsHeldPages) {
  // Large enough that a turned page is gathered in several strips of columns.
  // Across the media 300 dpi reaches every page row, down it 20 dpi keeps the test small.
  const PaperGeometry paper = paperOf(1008, 720, 9);
  auto pixels = namedSamples(2600, 1800);
  for (int turn : {0, 90, -90}) {
    SCOPED_TRACE(turn);
    const Size media = turn ? Size{720, 1008} : Size{1008, 720};
    const DeviceGrid grid = gridFor(media, 300, 20, turn);
    const DeviceImage held = draw(convertedPage(pixels, 200, false), paper, grid, 100, 4.5, -3);
    const DeviceImage streamed = draw(convertedPage(pixels, 200, true), paper, grid, 100, 4.5, -3);
    EXPECT_EQ(held.samples, streamed.samples);
  }
}

TEST(DeviceRaster, RefusesWhatCannotBeDrawnBeforeAnyRow) {
  const PaperGeometry paper = paperOf(144, 144, 0);
  const DeviceGrid grid = gridFor(paper.size(), 72, 72, 0);
  auto pixels = namedSamples(300, 300);
  int rows = 0;
  auto count = [&](std::uint32_t, std::uint32_t, const std::uint16_t*) { ++rows; };
  try {
    drawDeviceSheet(convertedPage(pixels, 100, false), paper, 100, 0, 0, grid, count);
    ADD_FAILURE() << "a page larger than the sheet was drawn";
  } catch (const PrintFailure& failure) {
    EXPECT_STREQ(failure.what(),
                 "The artwork exceeds the paper. Choose a smaller scale or larger paper.");
  }
  EXPECT_EQ(rows, 0);

  // A page whose rows stop short, as a file damaged since loading, says so, upright or turned.
  for (int turn : {0, 90}) {
    try {
      draw(convertedPage(pixels, 300, true, 120), paper, gridFor(paper.size(), 72, 72, turn));
      ADD_FAILURE() << "a short page was drawn";
    } catch (const PrintFailure& failure) {
      EXPECT_STREQ(failure.what(), kPngUnreadable);
    }
  }
}

}  // namespace
}  // namespace vardelle::artwork
