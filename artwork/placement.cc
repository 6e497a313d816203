#include "artwork/placement.h"

#include <algorithm>
#include <cmath>

#include "artwork/named_sheet.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

// The printable area, where it reaches an edge of the driver's page, reaches the edge of the
// named sheet centred on it: what lies between them (at most a quarter of a point) is beyond
// every page the driver makes and is not printed, as the edge of a borderless print is not.
Rect printableArea(const PaperGeometry& paper, Size sheet) {
  Rect area = paper.imageable();
  const double growX = std::max(0.0, sheet.width - paper.width) * 0.5;
  const double growY = std::max(0.0, sheet.height - paper.height) * 0.5;
  const bool left = area.x <= kPlacementTolerancePt;
  const bool right = area.x + area.width >= paper.width - kPlacementTolerancePt;
  const bool bottom = area.y <= kPlacementTolerancePt;
  const bool top = area.y + area.height >= paper.height - kPlacementTolerancePt;
  if (left) area.x -= growX, area.width += growX;
  if (right) area.width += growX;
  if (bottom) area.y -= growY, area.height += growY;
  if (top) area.height += growY;
  return area;
}

}  // namespace

PagePlacement placement(Size naturalSize, double scalePercent, const PaperGeometry& paper,
                        double offsetXmm, double offsetYmm) {
  paper.validate();
  if (!finitePositive(naturalSize) || !std::isfinite(scalePercent) || scalePercent < 10 ||
      scalePercent > 200) {
    throw PrintFailure("The document contains invalid physical dimensions or scale.");
  }
  const double scaledWidth = naturalSize.width * scalePercent / 100;
  const double scaledHeight = naturalSize.height * scalePercent / 100;
  if (!finitePositive({scaledWidth, scaledHeight})) {
    throw PrintFailure("The scaled page has invalid dimensions.");
  }
  if (!std::isfinite(offsetXmm) || !std::isfinite(offsetYmm) || std::fabs(offsetXmm) > 50 ||
      std::fabs(offsetYmm) > 50) {
    throw PrintFailure("Invalid printer offset.");
  }
  const double x = offsetXmm * 72 / 25.4 + (paper.width - scaledWidth) * 0.5;
  const double y = (paper.height - scaledHeight) * 0.5 - offsetYmm * 72 / 25.4;
  PagePlacement result;
  result.rect = {x, y, scaledWidth, scaledHeight};
  // The paper in the tray is the named sheet even where the driver rounded it to whole points
  // (A4: 595 × 842 pt for 595.28 × 841.89): a page of the sheet's true size fits it.
  const Size sheet = namedSheetSize(paper.size()).value_or(paper.size());
  result.fitsPaper = scaledWidth <= std::max(paper.width, sheet.width) + kPlacementTolerancePt &&
                     scaledHeight <= std::max(paper.height, sheet.height) + kPlacementTolerancePt;
  result.requiresClipping =
      !printableArea(paper, sheet).outset(kPlacementTolerancePt).contains(result.rect);
  return result;
}

}  // namespace vardelle::artwork
