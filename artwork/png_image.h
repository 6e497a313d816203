#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "color/png_source_color.h"

namespace vardelle::artwork {

/// The PNG colour types of IHDR.
enum class PngColorType : int { gray = 0, rgb = 2, palette = 3, grayAlpha = 4, rgbAlpha = 6 };

/// What IHDR says about the image.
struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 8;  ///< bits per sample or palette index as stored: 1, 2, 4, 8 or 16
  PngColorType colorType = PngColorType::rgb;
  bool hasAlpha = false;  ///< an alpha channel or a tRNS chunk
  bool interlaced = false;
};

using PngColorChunks = color::PngColorChunks;

/// The result of the chunk-header scan of a PNG file.
struct PngChunkScan {
  /// An iCCP, sRGB, gAMA or cHRM chunk stands before the image data.
  bool colorMetadataSeen = false;
  /// A chunk before the image data (within the first 10,000) declares a length over 128 MiB.
  bool oversizedChunk = false;
  /// The orientation (EXIF tag 0x0112) of the first eXIf chunk, wherever it stands.
  std::optional<int> orientation;
};

/// Everything loading needs to know about a PNG without decoding its pixels.
struct PngMetadata {
  PngHeader header;
  /// Dots per inch from pHYs with the metre unit; absent without pHYs or with an unknown unit.
  std::optional<double> dpiX;
  std::optional<double> dpiY;
  PngColorChunks color;
  PngChunkScan scan;
};

/// Decoded samples, rows from the top, no padding between rows. Palettes are expanded to RGB,
/// grey below 8 bits to 8 bits, tRNS to an alpha channel. 16-bit samples are in host byte order
/// (read them as uint16_t).
struct Pixels {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 8;  ///< 8 or 16 bits per sample
  int channels = 3;  ///< 1 grey, 2 grey+alpha, 3 RGB, 4 RGB+alpha (or RGB+unused when !hasAlpha)
  bool hasAlpha = false;
  std::vector<unsigned char> bytes;

  size_t rowBytes() const { return size_t(width) * size_t(channels) * size_t(bitDepth / 8); }
};

/// Scans the chunk headers of a PNG file (seeking over chunk data) for colour chunks before the
/// image data and the eXIf orientation anywhere. Throws PlatformError when the file cannot be
/// opened or read; a malformed chunk structure just ends the scan.
PngChunkScan scanPngChunks(const std::string& path);

/// Reads IHDR and the metadata chunks with libpng, without decoding pixels, plus the chunk scan.
/// Throws PrintFailure("This PNG could not be opened. It may be incomplete or damaged.") when
/// libpng refuses the file.
PngMetadata readPngMetadata(const std::string& path);

/// Decodes the whole image. Throws PrintFailure("This PNG could not be opened. It may be
/// incomplete or damaged.") when the file is damaged or no longer matches `expected`.
Pixels decodePngPixels(const std::string& path, const PngHeader& expected);

/// The sample layout decoding gives an image with this header (no bytes).
Pixels pixelLayout(const PngHeader& header);

/// Decodes row by row, calling `onRow(y, row)` for each row from the top with pixelLayout(expected)
/// samples; holds one row at a time (an interlaced file is decoded whole first). Throws like
/// decodePngPixels; an exception from `onRow` ends decoding and passes on.
void decodePngRows(const std::string& path, const PngHeader& expected,
                   const std::function<void(uint32_t y, const unsigned char* row)>& onRow);

/// Whether a PDF reader can take the file's compressed samples as they are (Flate with the PNG
/// predictors): a non-interlaced 8- or 16-bit grey or RGB image without transparency.
bool pngDataPassesThrough(const PngHeader& header);

/// The image data (all IDAT chunks' contents, concatenated) of a file for which
/// pngDataPassesThrough(expected) holds, after checking that its header still is `expected` and
/// that every chunk is whole with a correct CRC. Throws PrintFailure("This PNG could not be opened.
/// It may be incomplete or damaged.") otherwise; PlatformError when the file cannot be read.
std::string readPngImageData(const std::string& path, const PngHeader& expected);

/// The orientation tag (0x0112) of an EXIF block (TIFF header and IFD0), or none.
std::optional<int> exifOrientation(const unsigned char* data, size_t size);

}  // namespace vardelle::artwork
