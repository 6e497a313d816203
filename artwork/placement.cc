#include "artwork/placement.h"

#include <cmath>

#include "base/print_failure.h"

namespace vardelle::artwork {

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
  result.fitsPaper = scaledWidth <= paper.width + kPlacementTolerancePt &&
                     scaledHeight <= paper.height + kPlacementTolerancePt;
  result.requiresClipping = !paper.imageable().outset(kPlacementTolerancePt).contains(result.rect);
  return result;
}

}  // namespace vardelle::artwork
