#include "artwork/named_sheet.h"

#include <cmath>

namespace vardelle::artwork {
namespace {

struct Millimetres {
  double width, height;
};

// Portrait, in millimetres. Only sheets given in millimetres are here: 72 points to the inch
// make every inch size whole points or close enough that no PPD rounds it.
// clang-format off
constexpr Millimetres kSheets[] = {
    // ISO 216 A and B, ISO 269 C and DL, ISO 217 RA and SRA.
    {841, 1189}, {594, 841}, {420, 594}, {297, 420}, {210, 297}, {148, 210}, {105, 148},
    {74, 105}, {52, 74}, {37, 52}, {26, 37},
    {1000, 1414}, {707, 1000}, {500, 707}, {353, 500}, {250, 353}, {176, 250}, {125, 176},
    {88, 125}, {62, 88}, {44, 62}, {31, 44},
    {917, 1297}, {648, 917}, {458, 648}, {324, 458}, {229, 324}, {162, 229}, {114, 162},
    {81, 114}, {57, 81}, {40, 57}, {28, 40}, {110, 220},
    {860, 1220}, {610, 860}, {430, 610}, {305, 430}, {215, 305},
    {900, 1280}, {640, 900}, {450, 640}, {320, 450}, {225, 320},
    // JIS B.
    {1030, 1456}, {728, 1030}, {515, 728}, {364, 515}, {257, 364}, {182, 257}, {128, 182},
    {91, 128}, {64, 91}, {45, 64}, {32, 45},
    // Photographs and postcards in millimetres (9 × 13 cm is 3.5 × 5 in, whole points).
    {100, 148}, {148, 200}, {100, 150}, {130, 180}, {150, 200}, {150, 210}, {200, 250},
    {200, 300}, {250, 300}, {300, 400}, {300, 450}, {400, 600}, {100, 200},
    {210, 330}, {215, 315},
};
// clang-format on

bool near(double pt, double mm) {
  return std::fabs(pt - pointsFromMillimeters(mm)) <= kNamedSheetTolerancePt;
}

}  // namespace

std::optional<Size> namedSheetSize(Size size) {
  for (const Millimetres& sheet : kSheets) {
    if (near(size.width, sheet.width) && near(size.height, sheet.height)) {
      return Size{pointsFromMillimeters(sheet.width), pointsFromMillimeters(sheet.height)};
    }
    if (near(size.width, sheet.height) && near(size.height, sheet.width)) {
      return Size{pointsFromMillimeters(sheet.height), pointsFromMillimeters(sheet.width)};
    }
  }
  return std::nullopt;
}

}  // namespace vardelle::artwork
