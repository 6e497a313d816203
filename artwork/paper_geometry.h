#pragma once

#include <nlohmann/json_fwd.hpp>

namespace vardelle::artwork {

/// A width and height in points.
struct Size {
  double width = 0;
  double height = 0;
};

/// A rectangle in points, paper coordinates (origin lower left, y up).
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  bool isNull() const;
  /// Same rectangle with non-negative width and height.
  Rect standardized() const;
  /// The usual intersection; the null rectangle when they do not overlap.
  Rect intersection(const Rect& other) const;
  /// Grown by `d` on every side (shrunk for negative `d`).
  Rect outset(double d) const;
  /// True when `inner` lies wholly inside, borders included.
  bool contains(const Rect& inner) const;
  static Rect null();
};

/// Points to millimetres: points × 25.4 / 72, multiplied first.
double millimeters(double points);
/// Millimetres to points: mm × 72 / 25.4, multiplied first.
double pointsFromMillimeters(double mm);
/// Width and height both finite and strictly positive.
bool finitePositive(const Size& size);

/// The paper and its printable area as the print settings reported them, in points.
struct PaperGeometry {
  double width = 0;
  double height = 0;
  double imageableX = 0;
  double imageableY = 0;
  double imageableWidth = 0;
  double imageableHeight = 0;

  /// From a paper size and the imageable bounds (width and height taken as absolute values).
  static PaperGeometry make(Size size, Rect imageable);

  Size size() const { return {width, height}; }
  Rect paper() const { return {0, 0, width, height}; }
  /// The printable area clipped to the sheet.
  Rect imageable() const;

  /// Throws PrintFailure("The preset has invalid paper or printable-area dimensions. Save Printer
  /// Settings again.") unless the sizes are finite and positive and the area overlaps the sheet.
  void validate() const;

  /// The six keys in their fixed order. Decoding throws PlatformError on a missing or non-numeric
  /// key and checks no ranges.
  nlohmann::ordered_json toJson() const;
  static PaperGeometry fromJson(const nlohmann::json& object, const std::string& where);
};

}  // namespace vardelle::artwork
