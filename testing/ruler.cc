#include "testing/ruler.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "testing/pdf_maker.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {
namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

// Reads a binary PGM (P5, maxval 255) as darkness.
std::optional<DarknessImage> decodePgm(const std::string& bytes, double dpi) {
  // Header fields separated by white space, comments ("# …" to the end of the line) skipped.
  size_t at = 0;
  auto field = [&]() -> std::string {
    for (;;) {
      while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
      if (at < bytes.size() && bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
        continue;
      }
      break;
    }
    const size_t start = at;
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(start, at - start);
  };
  const std::string magic = field();
  const int width = std::atoi(field().c_str());
  const int height = std::atoi(field().c_str());
  const int maxval = std::atoi(field().c_str());
  if (magic != "P5" || width <= 0 || height <= 0 || maxval != 255) return std::nullopt;
  const size_t start = at + 1;
  if (bytes.size() < start + static_cast<size_t>(width) * height) return std::nullopt;
  DarknessImage image{width, height, dpi, dpi, {}};
  image.darkness.resize(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < image.darkness.size(); ++i) {
    image.darkness[i] =
        static_cast<unsigned char>(255 - static_cast<unsigned char>(bytes[start + i]));
  }
  return image;
}

}  // namespace

Ruler standardRuler() {
  Ruler ruler;
  ruler.widthMm = 170;
  ruler.heightMm = 195;
  ruler.centres = {{10, 10}, {160, 12}, {8, 185}, {157, 183}, {70, 120}};
  return ruler;
}

std::string makeRulerPdf(const Ruler& ruler) {
  FixturePage page;
  page.mediaBox = {0, 0, ruler.widthMm * kPointsPerMm, ruler.heightMm * kPointsPerMm};
  const double side = ruler.squareMm * kPointsPerMm;
  for (const PointMm& centre : ruler.centres) {
    page.content += fillRect(centre.x * kPointsPerMm - side / 2, centre.y * kPointsPerMm - side / 2,
                             side, side, 0, 0, 0);
  }
  return makeFixturePdf({page});
}

std::optional<DarknessImage> renderWithGhostscript(const std::string& path, int page, int dpi) {
  TempDir dir;
  const std::string out = dir.file("page.pgm");
  ProcessOutput gs = runProcess(
      {"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw",
       "-r" + std::to_string(dpi), "-dGraphicsAlphaBits=4", "-dFirstPage=" + std::to_string(page),
       "-dLastPage=" + std::to_string(page), "-sOutputFile=" + out, path});
  if (gs.exitStatus != 0) return std::nullopt;
  return decodePgm(readFile(out), dpi);
}

std::optional<std::vector<DarknessImage>> renderAllWithGhostscript(const std::string& path,
                                                                   int dpi) {
  TempDir dir;
  ProcessOutput gs =
      runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw",
                  "-r" + std::to_string(dpi), "-dGraphicsAlphaBits=4",
                  "-sOutputFile=" + dir.file("%05d.pgm"), path});
  if (gs.exitStatus != 0) return std::nullopt;
  std::vector<DarknessImage> pages;
  for (int page = 1;; ++page) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.pgm", page);
    if (!std::filesystem::exists(dir.file(name))) break;
    std::optional<DarknessImage> image = decodePgm(readFile(dir.file(name)), dpi);
    if (!image) return std::nullopt;
    pages.push_back(std::move(*image));
  }
  return pages;
}

std::optional<std::vector<DarknessImage>> readCupsRaster(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  std::vector<DarknessImage> pages;
  cups_page_header2_t header;
  bool ok = raster != nullptr;
  while (ok && cupsRasterReadHeader2(raster, &header)) {
    const unsigned bits = header.cupsBitsPerColor;
    const unsigned colours = header.cupsNumColors > 0 ? header.cupsNumColors : 1;
    if ((bits != 8 && bits != 16) || header.cupsColorOrder != CUPS_ORDER_CHUNKED ||
        header.cupsBytesPerLine < header.cupsWidth * colours * (bits / 8)) {
      ok = false;
      break;
    }
    const bool additive =
        header.cupsColorSpace == CUPS_CSPACE_W || header.cupsColorSpace == CUPS_CSPACE_RGB ||
        header.cupsColorSpace == CUPS_CSPACE_SW || header.cupsColorSpace == CUPS_CSPACE_SRGB ||
        header.cupsColorSpace == CUPS_CSPACE_ADOBERGB;
    DarknessImage image{static_cast<int>(header.cupsWidth),
                        static_cast<int>(header.cupsHeight),
                        static_cast<double>(header.HWResolution[0]),
                        static_cast<double>(header.HWResolution[1]),
                        {}};
    image.darkness.resize(static_cast<size_t>(image.width) * image.height);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) !=
          header.cupsBytesPerLine) {
        ok = false;
        break;
      }
      for (unsigned x = 0; x < header.cupsWidth; ++x) {
        // The mean of the colours' high bytes, as ink: black is dark in every space. libcups
        // hands 16-bit samples over in this machine's byte order.
        unsigned sum = 0;
        for (unsigned c = 0; c < colours; ++c) {
          const size_t at = (x * colours + c) * (bits / 8);
          if (bits == 16) {
            uint16_t wide;
            std::memcpy(&wide, &line[at], 2);
            sum += wide >> 8;
          } else {
            sum += line[at];
          }
        }
        unsigned value = sum / colours;
        if (additive) value = 255 - value;
        image.darkness[static_cast<size_t>(y) * image.width + x] =
            static_cast<unsigned char>(value);
      }
    }
    if (ok) pages.push_back(std::move(image));
  }
  if (raster) cupsRasterClose(raster);
  ::close(fd);
  if (!ok || pages.empty()) return std::nullopt;
  return pages;
}

std::optional<CupsRasterFacts> cupsRasterFacts(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  CupsRasterFacts facts;
  std::vector<std::set<uint16_t>> levels;
  cups_page_header2_t header;
  bool ok = raster != nullptr;
  while (ok && cupsRasterReadHeader2(raster, &header)) {
    const unsigned bits = header.cupsBitsPerColor;
    const unsigned colours = header.cupsNumColors > 0 ? header.cupsNumColors : 1;
    facts.pages.push_back({header.cupsWidth, header.cupsHeight, header.HWResolution[0],
                           header.HWResolution[1], bits, header.cupsColorSpace,
                           header.cupsPageSizeName, header.Duplex != 0, header.Tumble != 0});
    levels.resize(std::max<size_t>(levels.size(), colours));
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      ok = cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) ==
           header.cupsBytesPerLine;
      if (header.cupsColorOrder != CUPS_ORDER_CHUNKED || (bits != 8 && bits != 16)) continue;
      for (unsigned x = 0; ok && x < header.cupsWidth; ++x) {
        for (unsigned c = 0; c < colours; ++c) {
          const size_t at = (x * colours + c) * (bits / 8);
          uint16_t value = line[at];
          if (bits == 16) std::memcpy(&value, &line[at], 2);
          levels[c].insert(value);
        }
      }
    }
  }
  if (raster) cupsRasterClose(raster);
  ::close(fd);
  if (!ok || facts.pages.empty()) return std::nullopt;
  for (const auto& channel : levels) facts.mostLevels = std::max(facts.mostLevels, channel.size());
  return facts;
}

std::optional<std::set<std::array<uint16_t, 3>>> distinctRgb16Pixels(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  std::set<std::array<uint16_t, 3>> pixels;
  cups_page_header2_t header;
  bool ok = raster != nullptr, any = false;
  while (ok && cupsRasterReadHeader2(raster, &header)) {
    any = true;
    ok = header.cupsBitsPerColor == 16 && header.cupsColorOrder == CUPS_ORDER_CHUNKED &&
         header.cupsColorSpace == CUPS_CSPACE_RGB &&
         header.cupsBytesPerLine == header.cupsWidth * 6;
    std::vector<std::array<uint16_t, 3>> line(header.cupsWidth);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      ok = cupsRasterReadPixels(raster, reinterpret_cast<unsigned char*>(line.data()),
                                header.cupsBytesPerLine) == header.cupsBytesPerLine;
      pixels.insert(line.begin(), line.end());
    }
  }
  if (raster) cupsRasterClose(raster);
  ::close(fd);
  if (!ok || !any) return std::nullopt;
  return pixels;
}

std::vector<PointMm> findSquares(const DarknessImage& image, double minimumAreaMm2) {
  std::vector<PointMm> centres;
  std::vector<bool> seen(image.darkness.size(), false);
  const double pixelMm2 = (25.4 / image.dpiX) * (25.4 / image.dpiY);
  std::vector<std::pair<int, int>> stack;
  for (int y0 = 0; y0 < image.height; ++y0) {
    for (int x0 = 0; x0 < image.width; ++x0) {
      const size_t i0 = static_cast<size_t>(y0) * image.width + x0;
      if (seen[i0] || image.darkness[i0] < 128) continue;
      // The area's core (at least half dark), then its anti-aliased edge weighted by darkness.
      int minX = x0, maxX = x0, minY = y0, maxY = y0;
      size_t count = 0;
      stack.assign(1, {x0, y0});
      seen[i0] = true;
      while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        ++count;
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
        for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
          const size_t n = static_cast<size_t>(ny) * image.width + nx;
          if (seen[n] || image.darkness[n] < 128) continue;
          seen[n] = true;
          stack.push_back({nx, ny});
        }
      }
      if (count * pixelMm2 < minimumAreaMm2) continue;
      double sum = 0, sumX = 0, sumY = 0;
      for (int y = std::max(0, minY - 2); y <= std::min(image.height - 1, maxY + 2); ++y) {
        for (int x = std::max(0, minX - 2); x <= std::min(image.width - 1, maxX + 2); ++x) {
          const double w = image.at(x, y);
          sum += w, sumX += w * (x + 0.5), sumY += w * (y + 0.5);
        }
      }
      centres.push_back({sumX / sum * 25.4 / image.dpiX, sumY / sum * 25.4 / image.dpiY});
    }
  }
  return centres;
}

}  // namespace vardelle::testing
