#pragma once

// The standard sheets that PPDs write rounded to whole points.

#include <optional>

#include "artwork/paper_geometry.h"

namespace vardelle::artwork {

/// How far the size a PPD gives a sheet may lie from the sheet's true size, in hundredths of a
/// millimetre: a PPD writes sizes in whole points, up to half a point (17.6 hundredths) off (A4
/// is 595 × 842 pt for 595.28 × 841.89), and CUPS keeps them as whole hundredths. The next
/// standard size differs by millimetres.
inline constexpr int kNamedSheetToleranceHundredths = 18;

/// The same, in points (0.51 pt).
inline constexpr double kNamedSheetTolerancePt = kNamedSheetToleranceHundredths * 72.0 / 2540.0;

/// The true size, in points and in the orientation of `size`, of the standard metric sheet that
/// `size` stands for: ISO A, B, C and RA/SRA, JIS B, and the photo and postcard sheets given in
/// millimetres, when both sides of `size` lie within kNamedSheetTolerancePt of it. None for any
/// other size, and none for sheets given in inches, which are whole points already.
std::optional<Size> namedSheetSize(Size size);

}  // namespace vardelle::artwork
