#include "testing/tiff_fixtures.h"

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace vardelle::testing {

namespace {

struct TiffCloser {
  void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

}  // namespace

void writeRgbTiff(const std::string& path, int width, int height,
                  const std::vector<unsigned char>& rgb) {
  if (rgb.size() != std::size_t(width) * height * 3) throw std::runtime_error("TIFF: pixel count");
  Tiff tiff(TIFFOpen(path.c_str(), "w"));
  if (!tiff) throw std::runtime_error("TIFF: cannot create " + path);
  TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
  TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, std::uint32_t(height));
  TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff.get(), TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff.get(), TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, std::uint32_t(16));
  for (int y = 0; y < height; ++y) {
    auto* row = const_cast<unsigned char*>(rgb.data() + std::size_t(y) * width * 3);
    if (TIFFWriteScanline(tiff.get(), row, std::uint32_t(y), 0) < 0) {
      throw std::runtime_error("TIFF: cannot write " + path);
    }
  }
}

std::optional<DecodedImage> readTiff(const std::string& path) {
  Tiff tiff(TIFFOpen(path.c_str(), "r"));
  if (!tiff) return std::nullopt;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  std::vector<std::uint32_t> raster(std::size_t(width) * height);
  if (raster.empty() || !TIFFReadRGBAImageOriented(tiff.get(), width, height, raster.data(),
                                                   ORIENTATION_TOPLEFT, 0)) {
    return std::nullopt;
  }
  DecodedImage image;
  image.width = int(width);
  image.height = int(height);
  image.bitDepth = 8;
  image.rgba.reserve(raster.size() * 4);
  for (std::uint32_t pixel : raster) {
    image.rgba.push_back(static_cast<unsigned char>(TIFFGetR(pixel)));
    image.rgba.push_back(static_cast<unsigned char>(TIFFGetG(pixel)));
    image.rgba.push_back(static_cast<unsigned char>(TIFFGetB(pixel)));
    image.rgba.push_back(static_cast<unsigned char>(TIFFGetA(pixel)));
  }
  return image;
}

}  // namespace vardelle::testing
