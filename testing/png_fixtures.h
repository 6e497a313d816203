#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardelle::testing {

/// What a test PNG holds. Sample (x, y, channel c) of an 8-bit image is
/// pngSample(x, y, c); 16-bit samples are that value × 257; palette images use index
/// (x + y) % 4 into pngPalette().
struct PngOptions {
  uint32_t width = 4;
  uint32_t height = 3;
  int bitDepth = 8;
  int colorType = 2;  ///< IHDR colour type: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  bool interlaced = false;
  /// pHYs in pixels per metre; unit 1 is the metre, 0 unknown.
  std::optional<uint32_t> pixelsPerMeterX;
  std::optional<uint32_t> pixelsPerMeterY;
  int physUnit = 1;
  std::optional<double> gamma;            ///< gAMA before the image data
  bool srgb = false;                      ///< sRGB chunk
  bool chrm = false;                      ///< cHRM with the sRGB primaries
  std::vector<unsigned char> iccProfile;  ///< iCCP
  bool transparentPaletteEntry = false;   ///< tRNS for palette index 0
  /// Replaces pngSample for grey and colour images (8-bit values; 16-bit images get × 257).
  std::function<unsigned(uint32_t x, uint32_t y, int c)> sample;
  /// For 16-bit grey and colour images: the full 16-bit value, in place of the others.
  std::function<unsigned(uint32_t x, uint32_t y, int c)> sample16;
};

/// Samples of the pattern images.
inline unsigned pngSample(uint32_t x, uint32_t y, int c) {
  return (x * 37 + y * 11 + c * 71) & 0xff;
}
/// The four RGB palette entries of palette images.
std::vector<unsigned char> pngPalette();

/// A PNG written by libpng.
std::string makePng(const PngOptions& options);

/// A whole chunk (length, type, data, CRC).
std::string pngChunk(const std::string& type, const std::string& data);

/// `png` with raw `bytes` inserted just before its first IDAT chunk, or just before IEND.
std::string insertBeforeImageData(const std::string& png, const std::string& bytes);
std::string insertBeforeEnd(const std::string& png, const std::string& bytes);

/// `png` with its image data re-cut into IDAT chunks of `size` bytes (the last one shorter).
std::string splitImageData(const std::string& png, size_t size);

/// An eXIf chunk body (big-endian TIFF) whose IFD0 holds orientation `value`.
std::string exifWithOrientation(int value);

/// A pixels-per-metre value for a whole DPI figure (rounded, as writers store it).
uint32_t pixelsPerMeter(double dpi);

}  // namespace vardelle::testing
