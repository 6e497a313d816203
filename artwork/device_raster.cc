#include "artwork/device_raster.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "artwork/placement.h"
#include "base/files.h"
#include "base/print_failure.h"

namespace vardelle::artwork {
namespace {

constexpr std::uint16_t kWhite = 65535;
constexpr std::size_t kSampleBytes = 6;  // R, G, B of 16 bits
// A turned page is gathered from strips of its columns of about this size, whatever the page
// or the resolution.
constexpr std::size_t kStripBytes = 16u << 20;

// Consecutive device rows that show the same page row (or column), or, with source -1, none.
struct Run {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  std::int64_t source = -1;
};

// Along one axis of the sheet: the clip, and the placed page whose `samples` cover it from
// `from` to `from + length`; `downward` when sample 0 is at the far end (rows run down).
struct PageAxis {
  double clipFrom = 0;
  double clipTo = 0;
  double from = 0;
  double length = 0;
  std::uint32_t samples = 0;
  bool downward = false;

  // The sample under the sheet coordinate `at`, -1 outside the clip. The clip is half-open, so
  // that two sheets that share an edge never both take the pixel on it, as Ghostscript fills.
  std::int64_t sampleAt(double at) const {
    if (!(at >= clipFrom && at < clipTo)) return -1;
    const double offset = downward ? from + length - at : at - from;
    const double index = std::floor(offset * samples / length);
    return static_cast<std::int64_t>(std::clamp(index, 0.0, double(samples - 1)));
  }
};

template <typename SheetAt>
std::vector<std::int64_t> samplesAlong(std::uint32_t count, SheetAt sheetAt, const PageAxis& axis) {
  std::vector<std::int64_t> samples(count);
  for (std::uint32_t i = 0; i < count; ++i) samples[i] = axis.sampleAt(sheetAt(i));
  return samples;
}

std::vector<Run> runsOf(const std::vector<std::int64_t>& samples) {
  std::vector<Run> runs;
  for (std::uint32_t i = 0; i < samples.size(); ++i) {
    if (!runs.empty() && runs.back().source == samples[i]) {
      ++runs.back().count;
    } else {
      runs.push_back({i, 1, samples[i]});
    }
  }
  return runs;
}

// The device pixels that show the page, [first, last): the clip is one interval on each axis.
std::pair<std::uint32_t, std::uint32_t> shownSpan(const std::vector<std::int64_t>& samples) {
  std::uint32_t first = 0;
  while (first < samples.size() && samples[first] < 0) ++first;
  std::uint32_t last = static_cast<std::uint32_t>(samples.size());
  while (last > first && samples[last - 1] < 0) --last;
  return {first, last};
}

void readFully(int fd, void* into, std::size_t bytes, off_t at) {
  auto* out = static_cast<unsigned char*>(into);
  while (bytes > 0) {
    const ssize_t n = ::pread(fd, out, bytes, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw PlatformError("The converted page could not be read back from its temporary file: " +
                          std::string(n < 0 ? std::strerror(errno) : "it is shorter than written") +
                          ".");
    }
    out += n, at += n, bytes -= static_cast<std::size_t>(n);
  }
}

// A page that lies on the media as it is: each device row shows one page row (or none), and
// page rows are needed in the order they come, so the page streams through row by row.
void drawUpright(const PngPage& png, const std::vector<std::int64_t>& perColumn,
                 const std::vector<Run>& runs, std::uint32_t width, const DeviceRows& rows) {
  const std::vector<std::uint16_t> white(std::size_t(width) * 3, kWhite);
  std::vector<std::uint16_t> line = white;
  const auto [shownFirst, shownLast] = shownSpan(perColumn);
  std::size_t next = 0;
  auto emitWhite = [&] {
    for (; next < runs.size() && runs[next].source < 0; ++next) {
      rows(runs[next].first, runs[next].count, white.data());
    }
  };
  emitWhite();
  png.forEachRow([&](std::uint32_t y, const unsigned char* samples) {
    if (next >= runs.size() || runs[next].source != std::int64_t(y)) return;
    for (std::uint32_t i = shownFirst; i < shownLast; ++i) {
      std::memcpy(&line[std::size_t(i) * 3], samples + perColumn[i] * kSampleBytes, kSampleBytes);
    }
    rows(runs[next].first, runs[next].count, line.data());
    ++next;
    emitWhite();
  });
  if (next < runs.size()) throw PrintFailure(kPngUnreadable);
}

// A page turned onto the media: each device row shows one page column. The page rows the grid
// samples are gathered first (held in place, or, for a page made row by row, copied to a private
// temporary file), then read back a strip of columns at a time in the order the rows need them.
void drawTurned(const PngPage& png, const std::vector<std::int64_t>& perColumn,
                const std::vector<Run>& runs, std::uint32_t width, const DeviceRows& rows) {
  const std::vector<std::uint16_t> white(std::size_t(width) * 3, kWhite);
  std::vector<std::uint16_t> line = white;
  const auto [shownFirst, shownLast] = shownSpan(perColumn);
  const std::uint32_t pageWidth = png.layout().width;

  // The page rows the grid shows, in page order, and which of them each device column shows.
  std::vector<std::uint32_t> pageRows;
  for (std::uint32_t i = shownFirst; i < shownLast; ++i) {
    pageRows.push_back(static_cast<std::uint32_t>(perColumn[i]));
  }
  std::sort(pageRows.begin(), pageRows.end());
  pageRows.erase(std::unique(pageRows.begin(), pageRows.end()), pageRows.end());
  std::vector<std::uint32_t> slot(width, 0);
  for (std::uint32_t i = shownFirst; i < shownLast; ++i) {
    slot[i] = static_cast<std::uint32_t>(
        std::lower_bound(pageRows.begin(), pageRows.end(), std::uint32_t(perColumn[i])) -
        pageRows.begin());
  }
  // The page columns shown, and whether the device rows take them from the last one back.
  std::int64_t firstColumn = -1, lastColumn = -1, leading = -1;
  for (const Run& run : runs) {
    if (run.source < 0) continue;
    if (leading < 0) leading = run.source;
    if (firstColumn < 0 || run.source < firstColumn) firstColumn = run.source;
    lastColumn = std::max(lastColumn, run.source);
  }
  const bool descending = leading >= 0 && leading == lastColumn && lastColumn > firstColumn;

  std::optional<PrivateTempFile> spooled;
  std::vector<std::uint16_t> strip;
  std::size_t stripColumns = 0;
  std::int64_t stripFrom = -1;  // the first page column in `strip`
  const std::uint16_t* held =
      png.pixels ? reinterpret_cast<const std::uint16_t*>(png.pixels->bytes.data()) : nullptr;
  const std::size_t spanColumns = lastColumn >= 0 ? std::size_t(lastColumn - firstColumn + 1) : 0;

  if (!held && !pageRows.empty()) {
    spooled.emplace(
        [&](const ByteSink& sink) {
          std::size_t wanted = 0;
          png.forEachRow([&](std::uint32_t y, const unsigned char* samples) {
            if (wanted >= pageRows.size() || pageRows[wanted] != y) return;
            sink({reinterpret_cast<const char*>(samples) + firstColumn * kSampleBytes,
                  spanColumns * kSampleBytes});
            ++wanted;
          });
          if (wanted < pageRows.size()) throw PrintFailure(kPngUnreadable);
        },
        "printing");
    stripColumns =
        std::clamp<std::size_t>(kStripBytes / (pageRows.size() * kSampleBytes), 1, spanColumns);
    strip.resize(stripColumns * pageRows.size() * 3);
  }

  // The start of page column `column` in each gathered row.
  std::vector<const std::uint16_t*> starts(pageRows.size());
  auto locate = [&](std::int64_t column) {
    if (held) {
      for (std::size_t k = 0; k < pageRows.size(); ++k) {
        starts[k] = held + (std::size_t(pageRows[k]) * pageWidth + std::size_t(column)) * 3;
      }
      return;
    }
    if (stripFrom < 0 || column < stripFrom || column >= stripFrom + std::int64_t(stripColumns)) {
      // The next strip runs on in the direction the rows go, so each is read once.
      const std::int64_t count = std::int64_t(stripColumns);
      stripFrom = descending ? std::max(firstColumn, column - count + 1)
                             : std::min(column, lastColumn - count + 1);
      for (std::size_t k = 0; k < pageRows.size(); ++k) {
        readFully(spooled->fd(), strip.data() + k * stripColumns * 3, stripColumns * kSampleBytes,
                  off_t((k * spanColumns + std::size_t(stripFrom - firstColumn)) * kSampleBytes));
      }
    }
    for (std::size_t k = 0; k < pageRows.size(); ++k) {
      starts[k] = strip.data() + (k * stripColumns + std::size_t(column - stripFrom)) * 3;
    }
  };

  for (const Run& run : runs) {
    if (run.source < 0) {
      rows(run.first, run.count, white.data());
      continue;
    }
    locate(run.source);
    for (std::uint32_t i = shownFirst; i < shownLast; ++i) {
      std::memcpy(&line[std::size_t(i) * 3], starts[slot[i]], kSampleBytes);
    }
    rows(run.first, run.count, line.data());
  }
}

}  // namespace

void drawDeviceSheet(const ArtworkPage& page, const PaperGeometry& paper, double scalePercent,
                     double offsetXmm, double offsetYmm, const DeviceGrid& grid,
                     const DeviceRows& rows) {
  const PngPage* png = page.png();
  const Pixels layout = png ? png->layout() : Pixels{};
  if (!png || layout.bitDepth != 16 || layout.channels != 3 || layout.hasAlpha ||
      layout.width == 0 || layout.height == 0) {
    throw std::invalid_argument("drawDeviceSheet draws converted 16-bit RGB pages only");
  }
  if (grid.width == 0 || grid.height == 0 || !(grid.dpiX > 0) || !(grid.dpiY > 0) ||
      (grid.turn != 0 && grid.turn != 90 && grid.turn != -90)) {
    throw std::invalid_argument("drawDeviceSheet needs a device grid with pixels and a turn");
  }
  const PagePlacement placed =
      placement(page.naturalSize(), scalePercent, paper, offsetXmm, offsetYmm);
  if (!placed.fitsPaper) {
    throw PrintFailure("The artwork exceeds the paper. Choose a smaller scale or larger paper.");
  }
  const Rect clip = paper.imageable().intersection(placed.rect);
  const Rect& r = placed.rect;
  const PageAxis across{clip.x, clip.x + clip.width, r.x, r.width, layout.width, false};
  const PageAxis down{clip.y, clip.y + clip.height, r.y, r.height, layout.height, true};

  // The centres of device pixels on the media, and the sheet centred on the media.
  auto mediaX = [&](std::uint32_t i) { return grid.area.x + (i + 0.5) * 72.0 / grid.dpiX; };
  auto mediaY = [&](std::uint32_t j) {
    return grid.area.y + grid.area.height - (j + 0.5) * 72.0 / grid.dpiY;
  };
  const bool turned = grid.turn != 0;
  const double marginX = (grid.media.width - (turned ? paper.height : paper.width)) / 2;
  const double marginY = (grid.media.height - (turned ? paper.width : paper.height)) / 2;

  if (!turned) {
    const auto perColumn = samplesAlong(
        grid.width, [&](std::uint32_t i) { return mediaX(i) - marginX; }, across);
    const auto perRow = samplesAlong(
        grid.height, [&](std::uint32_t j) { return mediaY(j) - marginY; }, down);
    drawUpright(*png, perColumn, runsOf(perRow), grid.width, rows);
    return;
  }
  // Turned counter-clockwise, the sheet's bottom edge lies along the media's right edge: media x
  // runs down the sheet and media y along it from its left edge; clockwise the other way round.
  const bool counterClockwise = grid.turn > 0;
  const auto perColumn = samplesAlong(
      grid.width,
      [&](std::uint32_t i) {
        const double x = mediaX(i) - marginX;
        return counterClockwise ? paper.height - x : x;
      },
      down);
  const auto perRow = samplesAlong(
      grid.height,
      [&](std::uint32_t j) {
        const double y = mediaY(j) - marginY;
        return counterClockwise ? y : paper.width - y;
      },
      across);
  drawTurned(*png, perColumn, runsOf(perRow), grid.width, rows);
}

}  // namespace vardelle::artwork
