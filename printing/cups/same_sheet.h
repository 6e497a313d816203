#pragma once

// When two descriptions of a sheet are the same sheet. Each question has its own tolerance,
// because each compares numbers that went through different roundings; they stand here side by
// side so that none is loosened or tightened without seeing the others.

#include "artwork/named_sheet.h"
#include "artwork/paper_geometry.h"

namespace vardelle::printing {

/// Said when the paper measured at print time is not the one saved with the preset.
inline constexpr const char* kPaperChanged =
    "The printer's paper or margins changed since this preset was saved. Save Printer Settings "
    "again and preview the result.";

/// Print time: the saved paper against the same queue entry measured now, each of the six values
/// in points. Both sides are the same conversion of the same hundredths of a millimetre, so
/// anything beyond floating-point noise is a real change, and 0.02 pt (7 µm) is far below what a
/// printer resolves.
inline constexpr double kPaperDriftTolerancePt = 0.02;

/// Print time on the raster route: the sheet of the raster's page header (the PPD's points as
/// libcups reads them) against the sheet measured for the same entry (those points rounded to
/// hundredths of a millimetre and back), in points: at most half a hundredth, 0.014 pt, apart.
inline constexpr double kRasterToMeasuredTolerancePt = 0.02;

/// Measuring a media name: the size CUPS' media database gives for a name against the size the
/// name says (iso_a4_210x297mm), in hundredths of a millimetre: a PPD's rounding to whole points
/// (artwork/named_sheet.h, which also lets a page of the named sheet's true size fit the rounded
/// one). CUPS answers a name with the nearest size within a few millimetres, which is another
/// sheet.
inline constexpr int kNamedSizeToleranceHundredths = artwork::kNamedSheetToleranceHundredths;

/// Saving settings: the dialog's paper (GTK's millimetres, converted from the PPD's points)
/// against a page-size entry of the queue's PPD, in points. Half a point is a PPD's rounding;
/// the next size a PPD lists differs by far more.
inline constexpr double kDialogToPpdTolerancePt = 0.5;

/// Saving settings on a queue without a PPD: the dialog's paper against the queue's media of
/// that size (cupsGetDestMediaBySize), in hundredths of a millimetre. GTK and CUPS convert the
/// printer's sizes separately and can differ by a few hundredths; half a millimetre still
/// excludes every neighbouring standard size.
inline constexpr int kDialogToMediaToleranceHundredths = 50;

/// Throws PrintFailure(kPaperChanged) unless each of the six values of `current` lies within
/// kPaperDriftTolerancePt of `saved` (a value that is not a number never does).
void requireSamePaper(const artwork::PaperGeometry& saved, const artwork::PaperGeometry& current);

}  // namespace vardelle::printing
