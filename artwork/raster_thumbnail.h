#pragma once

#include <array>
#include <cstdint>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/png_writer.h"

namespace vardelle::artwork {

/// Where a raster page lands on a thumbnail bitmap of `width` × `height` pixels at
/// `pixelsPerPoint`, whose lower-left corner is the sheet's origin.
struct RasterThumbnailFrame {
  int width = 0;
  int height = 0;
  double pixelsPerPoint = 0;
  Rect placed;  ///< the rectangle (points) the image fills
  Rect clip;    ///< the printable area (points); nothing outside it is drawn
  std::array<std::uint8_t, 3> sheet{255, 255, 255};  ///< the sheet's colour, 8-bit sRGB
};

/// Draws a raster page as the sheet renderer draws it onto a sheet of `frame.sheet`'s colour
/// (white unless told), without a PDF in between: the samples are read a row at a time and
/// area-averaged straight onto the bitmap (edge pixels get their covered share over the sheet),
/// then shown in sRGB. Alpha is composited over white. Every pixel is opaque. Throws the page's
/// decoding PrintFailure.
RgbaImage rasterThumbnail(const PngPage& page, const RasterThumbnailFrame& frame);

}  // namespace vardelle::artwork
