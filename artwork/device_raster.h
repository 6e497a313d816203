#pragma once

#include <cstdint>
#include <functional>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"

namespace vardelle::artwork {

/// The pixel grid a printer driver receives for one sheet of media, and how the sheet lies on
/// it. Media coordinates are points from the media's lower-left corner, y upward, the media
/// portrait as the driver feeds it.
struct DeviceGrid {
  std::uint32_t width = 0;   ///< pixels per row
  std::uint32_t height = 0;  ///< rows
  double dpiX = 0;           ///< pixels per inch across a row
  double dpiY = 0;           ///< rows per inch
  /// The part of the media the grid covers: pixel (0, 0) is 72/dpiX by 72/dpiY points at its
  /// top-left corner, rows go down.
  Rect area;
  /// The media's size.
  Size media;
  /// How the sheet lies on the media: 0 as it is; 90 turned a quarter counter-clockwise (the
  /// sheet's left edge on the media's bottom edge); -90 turned clockwise (its left edge on the
  /// media's top edge). Other values throw std::invalid_argument. The turned sheet is centred
  /// on the media, from which it differs only by the rounding of the two sizes.
  int turn = 0;
};

/// The rows of a device sheet as they are made: `count` identical rows from row `first`, each
/// DeviceGrid::width × 3 16-bit samples (R, G, B in host byte order). Every row of the grid is
/// handed over once, in order from the top. What it throws passes through.
using DeviceRows =
    std::function<void(std::uint32_t first, std::uint32_t count, const std::uint16_t* row)>;

/// Draws `page` onto `grid` exactly where drawArtworkPage puts it on `paper`: the page fills its
/// placed rectangle, clipped to the rectangle and to the printable area, and every device pixel
/// outside is white (65535). Each device pixel whose centre lies in the clip takes the page
/// sample under that centre, as Ghostscript draws an image without interpolation. The page must
/// be a converted raster (16-bit RGB without alpha, held or made row by row); it is read once,
/// from the top, and never held whole: a page turned onto the media goes through a private
/// temporary file and is gathered a strip of columns at a time. Throws PrintFailure of
/// placement(), "The artwork exceeds the paper. Choose a smaller scale or larger paper." when
/// the page is larger than the sheet (before any row is handed over), the page's own failure
/// when its rows cannot be made, and std::invalid_argument for another page kind or grid.
void drawDeviceSheet(const ArtworkPage& page, const PaperGeometry& paper, double scalePercent,
                     double offsetXmm, double offsetYmm, const DeviceGrid& grid,
                     const DeviceRows& rows);

}  // namespace vardelle::artwork
