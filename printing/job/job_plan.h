#pragma once

// The second step of a print: what the job will be, settled before its document is made.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/records.h"
#include "printing/job/copies.h"
#include "printing/job/destination.h"
#include "printing/job/raster_job.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// What one job will be.
struct JobPlan {
  /// The options exactly as the job carries them (jobOptions, then copiesAndSidesOptions).
  std::vector<PrintOption> options;
  /// Who makes the copies, and the sides the document holds in order.
  CopiesPlan copies;
  /// The 16-bit raster of the Gutenprint route (takesRasterRoute); none for a PDF.
  std::optional<RasterJob> raster;
  /// The /Rotate of each sheet of a PDF (sheetRotation on the device route, where no filter
  /// turns a landscape sheet onto the printer's portrait media; 0 otherwise).
  int sheetRotation = 0;
  /// Whether the document carries application-managed colour (converted pixels, untagged).
  bool applicationColor = false;
  std::string title;  ///< the job title (jobTitle)
  size_t pageCount = 0;

  /// Whether `other` makes the same document and the same job.
  bool sameJob(const JobPlan& other) const;
};

/// Whether the job goes to its driver as a 16-bit raster made here rather than as PDF:
/// application-managed colour, through the local queue (`route`), to a Gutenprint driver (the
/// PPD has *StpDriverName) whose PPD takes a CUPS raster straight to it (takesCupsRaster). Every
/// other job, and one without a PPD (`ppd` null), takes the PDF route.
bool takesRasterRoute(const QueuePpd* ppd, const ColorManagement& color, PrintRoute route);

/// Plans the job of `pageCount` artwork pages for `destination` with `color`: the settings made
/// ready for an exact-size job (configurePrintPagination), the request's copies
/// (applyCopiesOverride) and colour entries (configureApplicationColor); the job's options
/// (jobOptions), whose colour entries must have survived (verifyApplicationColor); the copies and
/// sides (planCopies, on the road of the route and of the document's kind, with what the queue
/// and the printer say of copies); the raster job of the Gutenprint route (planRasterJob).
/// Throws PrintFailure, before any job exists.
JobPlan planJob(const CheckedDestination& destination, const PrintRequest& request,
                const ColorManagement& color, size_t pageCount);

/// Prepares `settings` for a print view of `pageCount` pages: the deterministic layout of
/// configureDeterministicLayout (which also removes any page range, so pages 1 to pageCount all
/// print), then removes every saved option that would add margins, centre, scale or paginate
/// the pages on the way to the printer. Throws PrintFailure(kLayoutNotConfigured).
void configurePrintPagination(PrintSettings& settings, int64_t pageCount);

/// The /Rotate that turns a sheet of `orientation` onto portrait media the way the CUPS filters
/// turn it (see orientedGeometry): 0, 90 (landscape), 180 or 270.
int sheetRotation(Orientation orientation);

/// Sets the copy count of `settings` to `copies`; absent leaves it. Throws PrintFailure outside
/// 1 to 99, or when the store refuses the value.
void applyCopiesOverride(PrintSettings& settings, std::optional<int64_t> copies);

/// The job title: the last component of the request's file path, or "Artwork" without one.
std::string jobTitle(const PrintRequest& request);

}  // namespace vardelle::printing
