#pragma once

// The 16-bit raster route of application-managed colour to a Gutenprint driver (printing/*.cc
// only): the job's document is a CUPS raster made here, which the driver receives as it is.

#include <cups/raster.h>

#include <vector>

#include "artwork/artwork.h"
#include "artwork/device_raster.h"
#include "artwork/paper_geometry.h"
#include "base/files.h"
#include "base/records.h"
#include "printing/cups/queue_ppd.h"
#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The MIME type of a CUPS raster document.
inline constexpr const char* kCupsRasterFormat = "application/vnd.cups-raster";

/// What a raster job is settled on before its document is written.
struct RasterJob {
  cups_page_header2_t header{};  ///< every sheet's page header (sixteenBitPageHeader)
  artwork::DeviceGrid grid;      ///< the header's pixels, and how each sheet lies on the media
};

/// Settles the raster job for `options` (exactly as the job carries them) on the queue of `ppd`
/// with `settings`: the header of sixteenBitPageHeader, which must describe the saved paper (the
/// PPD entry the settings name, and the `measured` sheet, turned back to the media, within
/// kRasterToMeasuredTolerancePt); the grid of that header with the sheet turned onto the media as
/// the filters turn it (sheetTurn). Throws PrintFailure (those of sixteenBitPageHeader, the
/// paper-drift sentence), always before any job exists.
RasterJob planRasterJob(const QueuePpd& ppd, const PrintSettings& settings,
                        const std::vector<PrintOption>& options,
                        const artwork::PaperGeometry& measured);

/// Writes the raster document of `artwork` into `sink`: the raster's sync word, then a page for
/// each artwork page, its header and its rows drawn by drawDeviceSheet on `paper` with
/// `scalePercent` and the offset, each run of identical rows written once with its repeat count
/// and each row packed as CUPS raster compresses it, and a blank page when `sides` has a blank
/// side (a negative index). Holds a row or two and a strip of the page, never a sheet. Each page
/// is written once: the returned spans of the written bytes, sent in order, make the document
/// with a page for each of `sides` in order (the copies the driver receives; every page once
/// without any). Throws the page's PrintFailure when one cannot be drawn, PrintFailure("The print
/// document could not be created. Nothing was submitted.") when libcups cannot write a header,
/// and what `sink` throws.
std::vector<FileSpan> writeRasterDocument(const RasterJob& job, const artwork::Artwork& artwork,
                                          const artwork::PaperGeometry& paper, double scalePercent,
                                          double offsetXmm, double offsetYmm,
                                          const std::vector<int>& sides, const ByteSink& sink);

}  // namespace vardelle::printing
