#pragma once

// TIFF files for the tools of the field that read and write them (LittleCMS's tificc).

#include <optional>
#include <string>
#include <vector>

#include "testing/raster_probe.h"

namespace vardelle::testing {

/// Writes an untagged 8-bit RGB TIFF of `width` × `height` pixels, `rgb` holding 3 bytes a pixel
/// row after row from the top. Throws std::runtime_error when libtiff cannot write it.
void writeRgbTiff(const std::string& path, int width, int height,
                  const std::vector<unsigned char>& rgb);

/// Reads any TIFF libtiff can turn into RGBA, rows top first; none when it cannot.
std::optional<DecodedImage> readTiff(const std::string& path);

}  // namespace vardelle::testing
