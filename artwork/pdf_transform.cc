#include "artwork/pdf_transform.h"

namespace vardelle::artwork {

int normalizedRotation(int rotationDegrees) {
  int r = rotationDegrees % 360;
  return r < 0 ? r + 360 : r;
}

Rect visibleBox(const PdfPageFrame& page) { return page.cropBox.intersection(page.mediaBox); }

AffineTransform pdfTransform(const PdfPageFrame& page, const Rect& target) {
  const Rect box = visibleBox(page);
  const double minX = box.x;
  const double minY = box.y;
  const double maxX = box.x + box.width;
  const double maxY = box.y + box.height;

  AffineTransform base;
  double turnedWidth = box.width;
  double turnedHeight = box.height;
  switch (normalizedRotation(page.rotationDegrees)) {
    case 90:
      base = {0, -1, 1, 0, -minY, maxX};
      turnedWidth = box.height;
      turnedHeight = box.width;
      break;
    case 180:
      base = {-1, 0, 0, -1, maxX, maxY};
      break;
    case 270:
      base = {0, 1, -1, 0, maxY, -minX};
      turnedWidth = box.height;
      turnedHeight = box.width;
      break;
    default:
      base = {1, 0, 0, 1, -minX, -minY};
      break;
  }
  const double sx = target.width / turnedWidth;
  const double sy = target.height / turnedHeight;
  return {base.a * sx,
          base.b * sy,
          base.c * sx,
          base.d * sy,
          base.tx * sx + target.x,
          base.ty * sy + target.y};
}

}  // namespace vardelle::artwork
