#pragma once

#include <string>
#include <utility>
#include <vector>

#include "artwork/placement.h"
#include "testing/raster_probe.h"

namespace vardelle::testing {

/// The ruler the driverless print tests print: a page of `widthPt` × `heightPt` with five black
/// 4 mm squares, four `insetPt` from the corners and one off the centre, so that a shift, a turn
/// or a scale of the page shows in where they land (and, close to the edges, a margin that cuts
/// a square).
std::string placedRulerPdf(double widthPt, double heightPt, double insetPt = 20);
/// The content stream of that page: its squares, nothing else.
std::string placedRulerContent(double widthPt, double heightPt, double insetPt = 20);

/// How a printed ruler compares with where the placement puts it.
struct RulerLanding {
  double worstErrorMm = 0;  ///< the largest distance, along either axis, of a square's centre
  double scale = 0;         ///< measured / expected distance between two far-apart squares
  std::string missing;      ///< empty when every square was found, else which one was not
};

/// Measures the ruler of placedRulerPdf(widthPt, heightPt) on `page`, a rendering of the
/// portrait media at `dpi` (a firmware-like printer's), against `placed`, the placement the
/// helper computed for it (points, paper coordinates, y up). A landscape sheet arrives turned a
/// quarter clockwise onto the portrait media, so its x runs down the rendering.
RulerLanding measurePlacedRuler(const DecodedImage& page, int dpi,
                                const artwork::PagePlacement& placed, double widthPt,
                                double heightPt, bool landscape, double insetPt = 20);

}  // namespace vardelle::testing
