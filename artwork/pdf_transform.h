#pragma once

#include "artwork/paper_geometry.h"

namespace vardelle::artwork {

/// A point in points.
struct Point {
  double x = 0;
  double y = 0;
};

/// An affine map x′ = a·x + c·y + tx, y′ = b·x + d·y + ty (the PDF `cm` operand order).
struct AffineTransform {
  double a = 1;
  double b = 0;
  double c = 0;
  double d = 1;
  double tx = 0;
  double ty = 0;

  /// Where the point (x, y) lands.
  Point apply(double x, double y) const { return {a * x + c * y + tx, b * x + d * y + ty}; }
};

/// The boxes and rotation of a PDF page, in its default user space units.
struct PdfPageFrame {
  Rect cropBox;
  Rect mediaBox;
  int rotationDegrees = 0;  ///< /Rotate as written; normalised here
};

/// The page rotation turned into 0…359: remainder 360 with the angle's sign, plus 360 when
/// negative.
int normalizedRotation(int rotationDegrees);

/// The visible box: crop box ∩ media box (null when they do not overlap).
Rect visibleBox(const PdfPageFrame& page);

/// The transform that maps the page's visible box, turned upright by its rotation, exactly onto
/// `target` (points): the upright lower-left corner on the target's lower-left corner, the
/// opposite corner on its upper-right corner. Each axis scales on its own. Pure; never fails.
AffineTransform pdfTransform(const PdfPageFrame& page, const Rect& target);

}  // namespace vardelle::artwork
