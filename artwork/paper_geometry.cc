#include "artwork/paper_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/json_fields.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

Rect Rect::null() {
  const double inf = std::numeric_limits<double>::infinity();
  return {inf, inf, 0, 0};
}

bool Rect::isNull() const { return std::isinf(x) || std::isinf(y); }

Rect Rect::standardized() const {
  Rect r = *this;
  if (r.width < 0) {
    r.x += r.width;
    r.width = -r.width;
  }
  if (r.height < 0) {
    r.y += r.height;
    r.height = -r.height;
  }
  return r;
}

Rect Rect::intersection(const Rect& other) const {
  if (isNull() || other.isNull()) return null();
  Rect a = standardized();
  Rect b = other.standardized();
  double x0 = std::max(a.x, b.x);
  double y0 = std::max(a.y, b.y);
  double x1 = std::min(a.x + a.width, b.x + b.width);
  double y1 = std::min(a.y + a.height, b.y + b.height);
  if (!(x1 >= x0) || !(y1 >= y0)) return null();
  return {x0, y0, x1 - x0, y1 - y0};
}

Rect Rect::outset(double d) const {
  Rect r = standardized();
  return {r.x - d, r.y - d, r.width + 2 * d, r.height + 2 * d};
}

bool Rect::contains(const Rect& inner) const {
  if (isNull() || inner.isNull()) return false;
  Rect a = standardized();
  Rect b = inner.standardized();
  return b.x >= a.x && b.y >= a.y && b.x + b.width <= a.x + a.width &&
         b.y + b.height <= a.y + a.height;
}

double millimeters(double points) { return points * 25.4 / 72; }
double pointsFromMillimeters(double mm) { return mm * 72 / 25.4; }

bool finitePositive(const Size& s) {
  return std::isfinite(s.width) && std::isfinite(s.height) && s.width > 0 && s.height > 0;
}

PaperGeometry PaperGeometry::make(Size size, Rect imageable) {
  return {size.width,
          size.height,
          imageable.x,
          imageable.y,
          std::fabs(imageable.width),
          std::fabs(imageable.height)};
}

Rect PaperGeometry::imageable() const {
  return Rect{imageableX, imageableY, imageableWidth, imageableHeight}.intersection(paper());
}

void PaperGeometry::validate() const {
  auto fail = [] {
    throw PrintFailure(
        "The preset has invalid paper or printable-area dimensions. Save Printer Settings again.");
  };
  if (!std::isfinite(width) || !(width > 0) || !std::isfinite(height) || !(height > 0)) fail();
  if (!std::isfinite(imageableX) || !std::isfinite(imageableY) || !std::isfinite(imageableWidth)) {
    fail();
  }
  if (!(imageableWidth > 0) || !std::isfinite(imageableHeight) || !(imageableHeight > 0)) fail();
  Rect area = imageable();
  if (area.isNull() || !std::isfinite(area.width) || !std::isfinite(area.height) ||
      !(area.width > 0) || !(area.height > 0)) {
    fail();
  }
}

nlohmann::ordered_json PaperGeometry::toJson() const {
  nlohmann::ordered_json j;
  j["width"] = width;
  j["height"] = height;
  j["imageableX"] = imageableX;
  j["imageableY"] = imageableY;
  j["imageableWidth"] = imageableWidth;
  j["imageableHeight"] = imageableHeight;
  return j;
}

PaperGeometry PaperGeometry::fromJson(const nlohmann::json& object, const std::string& where) {
  json::Fields f(object, where);
  return {f.requiredNumber("width"),          f.requiredNumber("height"),
          f.requiredNumber("imageableX"),     f.requiredNumber("imageableY"),
          f.requiredNumber("imageableWidth"), f.requiredNumber("imageableHeight")};
}

}  // namespace vardelle::artwork
