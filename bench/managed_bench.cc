// Pieces of the application-colour path, timed on their own for bench/managed.sh:
//   managed_bench make-tiff <out.tif> <romm.icc>   a 6000 × 4000 16-bit RGB TIFF in ROMM RGB (a
//                                                 smooth picture with grain) and the ROMM profile
//   managed_bench convert <in.tif> <printer.icc> [repeats]
//                                                 converts the TIFF's pixels to the printer profile
//                                                 as a page is converted; prints the median ms
//   managed_bench rasterize <page.pdf>            renders page 1 to 16-bit ROMM RGB at 300 DPI
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/color_managed.h"
#include "artwork/page_drawing.h"
#include "artwork/rasterizer.h"
#include "artwork/sheet_document.h"
#include "color/lcms.h"
#include "color/managed_conversion.h"
#include "color/output_profile.h"

namespace {

constexpr std::uint32_t kWidth = 6000, kHeight = 4000;
constexpr std::size_t kHeaderBytes = 8;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(in ? std::size_t(in.tellg()) : 0, '\0');
  in.seekg(0);
  in.read(bytes.data(), std::streamsize(bytes.size()));
  return bytes;
}

void put16(std::string& s, std::uint16_t v) {
  s.push_back(char(v & 0xff));
  s.push_back(char(v >> 8));
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, std::uint16_t(v & 0xffff));
  put16(s, std::uint16_t(v >> 16));
}

// Little-endian, one strip, pixel data right after the header, the IFD after the data.
int makeTiff(const std::string& tiffPath, const std::string& rommPath) {
  const std::size_t dataBytes = std::size_t(kWidth) * kHeight * 6;
  std::string file;
  file.reserve(kHeaderBytes + dataBytes + 200);
  file += "II";
  put16(file, 42);
  put32(file, std::uint32_t(kHeaderBytes + dataBytes));
  std::mt19937 random(1);
  std::normal_distribution<double> grain(0, 600);
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      const double u = double(x) / kWidth, v = double(y) / kHeight;
      const double base[3] = {0.5 + 0.5 * std::sin(6 * u + 2 * v), u * v,
                              0.5 + 0.5 * std::cos(4 * v - 3 * u)};
      for (double b : base) {
        put16(file, std::uint16_t(std::clamp(b * 65535 + grain(random), 0.0, 65535.0)));
      }
    }
  }
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
  };
  const std::uint32_t ifd = std::uint32_t(kHeaderBytes + dataBytes);
  const std::uint32_t entries = 10;
  const std::uint32_t bitsOffset = ifd + 2 + entries * 12 + 4;
  const Entry table[entries] = {
      {256, 4, 1, kWidth}, {257, 4, 1, kHeight}, {258, 3, 3, bitsOffset},
      {259, 3, 1, 1},      {262, 3, 1, 2},       {273, 4, 1, std::uint32_t(kHeaderBytes)},
      {277, 3, 1, 3},      {278, 4, 1, kHeight}, {279, 4, 1, std::uint32_t(dataBytes)},
      {284, 3, 1, 1}};
  put16(file, entries);
  for (const Entry& e : table) {
    put16(file, e.tag);
    put16(file, e.type);
    put32(file, e.count);
    if (e.type == 3 && e.count == 1) {
      put16(file, std::uint16_t(e.value));
      put16(file, 0);
    } else {
      put32(file, e.value);
    }
  }
  put32(file, 0);
  for (int i = 0; i < 3; ++i) put16(file, 16);
  std::ofstream(tiffPath, std::ios::binary) << file;

  vardelle::color::LcmsContext context;
  std::ofstream(rommPath, std::ios::binary) << vardelle::color::workingRGB(context).iccBytes;
  return 0;
}

int convert(const std::string& tiffPath, const std::string& printerPath, int repeats) {
  const std::string file = readAll(tiffPath);
  if (file.size() < kHeaderBytes + std::size_t(kWidth) * kHeight * 6) {
    std::fprintf(stderr, "managed_bench: %s is not a make-tiff picture\n", tiffPath.c_str());
    return 1;
  }
  std::vector<std::uint16_t> source(std::size_t(kWidth) * kHeight * 4, 65535);
  const unsigned char* in = reinterpret_cast<const unsigned char*>(file.data()) + kHeaderBytes;
  for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i, in += 6) {
    for (int c = 0; c < 3; ++c) source[i * 4 + c] = std::uint16_t(in[2 * c] | in[2 * c + 1] << 8);
  }
  vardelle::ColorManagement settings;
  settings.mode = "application";
  settings.profilePath = printerPath;
  settings.profileId = vardelle::color::profileId(readAll(printerPath));
  settings.renderingIntent = "perceptual";
  settings.blackPointCompensation = true;
  settings.driverColorManagementDisabled = true;
  auto conversion = vardelle::color::ManagedConversion::open(settings);
  conversion.prepareWorkingSpace();
  std::vector<double> times;
  std::vector<std::uint16_t> out(std::size_t(kWidth) * kHeight * 3);
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    // The transform is built for each page, so it is part of a page's conversion time.
    auto transform = conversion.transformFromWorkingSpace();
    const auto linked = std::chrono::steady_clock::now();
    if (std::getenv("MANAGED_BENCH_VERBOSE")) {
      std::fprintf(stderr, "link %.1f ms\n",
                   std::chrono::duration<double, std::milli>(linked - start).count());
    }
    transform.convert(source.data(), std::size_t(kWidth) * 4, out.data(), std::size_t(kWidth) * 3,
                      kWidth, kHeight);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%.1f\n", times[times.size() / 2]);
  return 0;
}

int rasterize(const std::string& pdfPath) {
  using namespace vardelle::artwork;
  Artwork artwork = Artwork::load(pdfPath, std::nullopt);
  const ArtworkPage& page = artwork.pages.front();
  const RasterSize size = managedRasterSize(page, 100);
  vardelle::color::LcmsContext context;
  const std::string romm = "/tmp/managed-bench-romm.icc";
  std::ofstream(romm, std::ios::binary) << vardelle::color::workingRGB(context).iccBytes;
  const Size sheetSize = page.naturalSize();
  SheetDocument sheet;
  sheet.beginSheet(sheetSize);
  const std::string form = sheet.formXObjectFor(*page.pdf());
  const AffineTransform m = pdfTransform(*page.pdf(), {0, 0, sheetSize.width, sheetSize.height});
  sheet.appendContent("q " + pdfNumber(m.a, 10) + " " + pdfNumber(m.b, 10) + " " +
                      pdfNumber(m.c, 10) + " " + pdfNumber(m.d, 10) + " " + pdfNumber(m.tx, 10) +
                      " " + pdfNumber(m.ty, 10) + " cm " + form + " Do Q\n");
  // Rows are read back as a page conversion reads them, and dropped.
  std::uint64_t sum = 0;
  rasterizeFirstPageByRows(
      sheet.write(),
      {int(size.width), int(size.height), sheetSize.width, sheetSize.height, 16, romm},
      [&](int, const std::uint16_t* rgb) { sum += rgb[0]; });
  std::fprintf(stderr, "%u x %u (%llu)\n", size.width, size.height, (unsigned long long)sum);
  std::remove(romm.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make-tiff" && argc == 4) return makeTiff(argv[2], argv[3]);
    if (mode == "convert" && (argc == 4 || argc == 5)) {
      return convert(argv[2], argv[3], argc == 5 ? std::max(1, std::atoi(argv[4])) : 1);
    }
    if (mode == "rasterize" && argc == 3) return rasterize(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "managed_bench: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: managed_bench make-tiff OUT.tif ROMM.icc | convert IN.tif PRINTER.icc "
               "[repeats] | rasterize PAGE.pdf\n");
  return 2;
}
