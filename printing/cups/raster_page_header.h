#pragma once

// The CUPS raster page header a queue's driver expects (printing/*.cc only).

#include <cups/raster.h>

#include <vector>

#include "printing/cups/queue_ppd.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The refusal of a PPD whose options libcups cannot turn into a raster page header.
inline constexpr const char* kRasterHeaderUnreadable =
    "The printer's driver settings cannot be turned into a 16-bit print raster. Reinstall the "
    "printer, or print with printer-managed color.";

/// Whether a job whose document is a CUPS raster reaches the queue's driver with no filter
/// before it: the PPD names a filter for application/vnd.cups-raster (*cupsFilter or
/// *cupsFilter2).
bool takesCupsRaster(const QueuePpd& ppd);

/// The page header the filters would hand the driver of `ppd` for a job with `options`, with 16
/// bits per colour: the PPD's defaults with the options marked on them as cupsMarkOptions marks
/// them (a PageSize before the media), interpreted by libcups' cupsRasterInterpretPPD, whose own
/// rules then give the bits per pixel and bytes per line. Leaves the PPD's marks at its defaults.
/// Throws PrintFailure before anything is printed: kRasterHeaderUnreadable when libcups cannot
/// interpret the options or the header is not chunked pixels, kBlackAndWhiteWithRgbProfile for a
/// grey colour model, and a sentence naming the model for any other that is not RGB (CMYK, CMY,
/// KCMY, …), none of which can carry colours converted to an RGB printer profile.
cups_page_header2_t sixteenBitPageHeader(const QueuePpd& ppd,
                                         const std::vector<PrintOption>& options);

}  // namespace vardelle::printing
