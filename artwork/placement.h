#pragma once

#include "artwork/paper_geometry.h"

namespace vardelle::artwork {

/// How far a page may pass the sheet, or its placed rectangle the printable area, and still fit
/// or need no clipping: 0.02 pt (7 µm), below anything a printer resolves, so that a page of
/// exactly the sheet's size is not refused for a rounding.
inline constexpr double kPlacementTolerancePt = 0.02;

/// Where a scaled page lies on the sheet and the two verdicts about it.
struct PagePlacement {
  Rect rect;
  bool fitsPaper = false;
  bool requiresClipping = false;
};

/// The one placement rule: the scaled page centred on the whole sheet, then moved by the offset
/// (positive x right, positive y down), judged with kPlacementTolerancePt. Throws PrintFailure
/// (paper, scale, scaled size, offset, in that order).
PagePlacement placement(Size naturalSize, double scalePercent, const PaperGeometry& paper,
                        double offsetXmm, double offsetYmm);

}  // namespace vardelle::artwork
