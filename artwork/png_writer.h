#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vardelle::artwork {

/// An 8-bit RGBA bitmap: rows top first, width × 4 bytes each, alpha last.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

/// 8-bit RGBA rows held elsewhere: top first, `rowBytes` apart, alpha last.
struct RgbaRows {
  int width = 0;
  int height = 0;
  std::size_t rowBytes = 0;
  const unsigned char* pixels = nullptr;
};

/// Encodes `image` as an sRGB PNG (an sRGB chunk with its gAMA and cHRM) whose pHYs records
/// `dotsPerInch` on both axes, rounded to whole pixels per metre. Throws PlatformError with
/// libpng's message when encoding fails.
std::string encodePng(const RgbaImage& image, double dotsPerInch);
/// The same for rows held elsewhere, e.g. a renderer's own bitmap, without a copy.
std::string encodePngRows(const RgbaRows& image, double dotsPerInch);

}  // namespace vardelle::artwork
