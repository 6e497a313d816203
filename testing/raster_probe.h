#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vardelle::testing {

/// A decoded picture as 8-bit RGBA, rows top first, and what its file said about itself.
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgba;
  int bitDepth = 0;
  int colorType = -1;                       ///< the PNG colour type, -1 for a PPM
  std::optional<unsigned> pixelsPerMetreX;  ///< PNG pHYs in metres
  std::optional<unsigned> pixelsPerMetreY;
  bool hasSrgbChunk = false;

  struct Pixel {
    int r, g, b, a;
  };
  Pixel at(int x, int y) const {
    const unsigned char* p = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
  }
};

/// Decodes PNG bytes (any bit depth or colour type, reduced to 8-bit RGBA); none when libpng
/// refuses them.
std::optional<DecodedImage> decodePng(const std::string& bytes);

/// Reads a binary PPM (P6, maxval 255), as written by pdftoppm; none for anything else.
std::optional<DecodedImage> decodePpm(const std::string& bytes);

/// Renders page `page` (1-based) of the PDF at `path` with poppler's pdftoppm at `dpi`, with
/// anti-aliasing off, and decodes it; none when pdftoppm fails.
std::optional<DecodedImage> renderWithPoppler(const std::string& path, int page, int dpi);

}  // namespace vardelle::testing
