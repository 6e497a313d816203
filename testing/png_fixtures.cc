#include "testing/png_fixtures.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <stdexcept>

namespace vardelle::testing {

namespace {

void append(png_structp png, png_bytep data, png_size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), size);
}
void flush(png_structp) {}

uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xffffffffu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string bigEndian(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

int channelsOf(int colorType) {
  switch (colorType) {
    case 0:
    case 3:
      return 1;
    case 4:
      return 2;
    case 2:
      return 3;
    default:
      return 4;
  }
}

bool write(png_structp png, png_infop info, const PngOptions& options,
           std::vector<std::vector<unsigned char>>& rows,
           const std::vector<unsigned char>& palette) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, options.width, options.height, options.bitDepth, options.colorType,
               options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (options.colorType == 3) {
    std::vector<png_color> entries;
    for (size_t i = 0; i + 2 < palette.size(); i += 3) {
      entries.push_back({palette[i], palette[i + 1], palette[i + 2]});
    }
    png_set_PLTE(png, info, entries.data(), int(entries.size()));
    if (options.transparentPaletteEntry) {
      png_byte alpha = 0;
      png_set_tRNS(png, info, &alpha, 1, nullptr);
    }
  }
  if (options.pixelsPerMeterX) {
    png_set_pHYs(png, info, *options.pixelsPerMeterX,
                 options.pixelsPerMeterY.value_or(*options.pixelsPerMeterX), options.physUnit);
  }
  if (options.gamma) png_set_gAMA(png, info, *options.gamma);
  if (options.chrm) {
    png_set_cHRM(png, info, 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06);
  }
  if (options.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  if (!options.iccProfile.empty()) {
    png_set_iCCP(png, info, "embedded", PNG_COMPRESSION_TYPE_BASE, options.iccProfile.data(),
                 png_uint_32(options.iccProfile.size()));
  }
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<unsigned char> pngPalette() { return {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}; }

std::string makePng(const PngOptions& options) {
  const int channels = channelsOf(options.colorType);
  std::vector<std::vector<unsigned char>> rows(options.height);
  for (uint32_t y = 0; y < options.height; ++y) {
    auto& row = rows[y];
    for (uint32_t x = 0; x < options.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        unsigned value = options.colorType == 3 ? (x + y) % 4
                         : options.sample       ? options.sample(x, y, c)
                                                : pngSample(x, y, c);
        if (options.bitDepth == 16 && options.sample16 && options.colorType != 3) {
          const unsigned wide = options.sample16(x, y, c);
          row.push_back(static_cast<unsigned char>(wide >> 8));  // big-endian
          row.push_back(static_cast<unsigned char>(wide));
        } else if (options.bitDepth == 16) {
          row.push_back(static_cast<unsigned char>(value));  // value × 257, big-endian
          row.push_back(static_cast<unsigned char>(value));
        } else if (options.bitDepth == 8) {
          row.push_back(static_cast<unsigned char>(value));
        } else {
          // Packed low-depth samples: keep the top bits of the pattern.
          const int perByte = 8 / options.bitDepth;
          const unsigned sample = options.colorType == 3 ? value : value >> (8 - options.bitDepth);
          if (x % perByte == 0) row.push_back(0);
          row.back() |=
              static_cast<unsigned char>(sample << (8 - options.bitDepth * (1 + int(x % perByte))));
        }
      }
    }
  }
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, append, flush);
  const bool ok = write(png, info, options, rows, pngPalette());
  png_destroy_write_struct(&png, &info);
  if (!ok) throw std::runtime_error("libpng could not write the test PNG");
  return out;
}

std::string pngChunk(const std::string& type, const std::string& data) {
  return bigEndian(uint32_t(data.size())) + type + data + bigEndian(crc32(type + data));
}

std::string insertBeforeImageData(const std::string& png, const std::string& bytes) {
  const size_t at = png.find("IDAT") - 4;
  return png.substr(0, at) + bytes + png.substr(at);
}

std::string insertBeforeEnd(const std::string& png, const std::string& bytes) {
  const size_t at = png.rfind("IEND") - 4;
  return png.substr(0, at) + bytes + png.substr(at);
}

std::string splitImageData(const std::string& png, size_t size) {
  std::string before, data, after;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length =
        uint32_t((unsigned char)png[at]) << 24 | uint32_t((unsigned char)png[at + 1]) << 16 |
        uint32_t((unsigned char)png[at + 2]) << 8 | uint32_t((unsigned char)png[at + 3]);
    const std::string type = png.substr(at + 4, 4);
    const std::string whole = png.substr(at, 12 + size_t(length));
    if (type == "IDAT") {
      data += png.substr(at + 8, length);
    } else if (data.empty()) {
      before += whole;
    } else {
      after += whole;
    }
    at += 12 + size_t(length);
  }
  std::string out = png.substr(0, 8) + before;
  for (size_t i = 0; i < data.size(); i += size) out += pngChunk("IDAT", data.substr(i, size));
  return out + after;
}

std::string exifWithOrientation(int value) {
  std::string tiff = "MM";
  tiff += std::string("\0*", 2) + bigEndian(8);
  tiff += std::string("\0\x01", 2);                                       // one entry
  tiff += std::string("\x01\x12\0\x03", 4) + bigEndian(1);                // SHORT × 1
  tiff += std::string{char(value >> 8), char(value & 0xff), '\0', '\0'};  // value
  tiff += bigEndian(0);                                                   // no next IFD
  return tiff;
}

uint32_t pixelsPerMeter(double dpi) { return uint32_t(std::lround(dpi / 0.0254)); }

}  // namespace vardelle::testing
