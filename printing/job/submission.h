#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "base/records.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {

/// Prints `artwork` (already colour-managed) at exact size on the request's printer with the
/// snapshot's saved settings, without any dialog. Refuses, before any job exists: artwork that
/// does not fit (`document.fits` not true), clipping not acknowledged, driver colour correction
/// left on under application-managed colour, a printer that is not installed or no longer the
/// saved one, saved settings that cannot be restored, paper or margins that moved by more than
/// kPaperDriftTolerancePt (same_sheet.h) since they were saved, a copies override outside 1 to 99,
/// colour entries that were not kept, and a page that fails to draw (the whole document is composed
/// before anything is sent). Then sends one job with every exact-size option set explicitly and
/// the document as application/pdf, or, for application-managed colour on a Gutenprint queue, as
/// the 16-bit CUPS raster the driver prints from (takesRasterRoute, raster_job.h). Returns ok, the
/// snapshot's summary, `document` and submitted true only when CUPS confirmed the job; a failure
/// once the job may exist ends with kCheckPrintQueue (ipp_job.h). The job goes through the queue
/// or, for a driverless printer behind a cupsd that drops print-scaling, straight to the printer
/// (see chooseRoute); either way a job the printer accepts with an attribute ignored or substituted
/// that touches the exact output is cancelled before its document is sent. Throws PrintFailure (or
/// the failure of a called module).
HelperResult submit(const artwork::Artwork& artwork, const PrintRequest& request,
                    const NativeSnapshot& snapshot, const DocumentInfo& document);

/// Sets the copy count of `settings` to `copies`; absent leaves it. Throws PrintFailure outside
/// 1 to 99, or when the store refuses the value.
void applyCopiesOverride(PrintSettings& settings, std::optional<int64_t> copies);

/// The largest document one job hands the print system. cupsd keeps the whole of it in its spool
/// folder, on the user's disk, until the job is printed: copies the document holds (a raster for
/// an inkjet, collated sets for a dye-sublimation printer) multiply it.
inline constexpr unsigned long long kMaxJobDocumentBytes = 4ULL << 30;

/// Throws PrintFailure, before any job exists, when a document of `bytes` holding `copies`
/// copies is larger than kMaxJobDocumentBytes, or than `spoolFree`, the room left on the disk of
/// the print system's spool folder when it is known.
void requireSpoolRoom(unsigned long long bytes, int copies,
                      std::optional<unsigned long long> spoolFree);

/// The room left on the disk of the spool folder of the print system on this machine, where it
/// can be known (CUPS' own folder, /var/spool/cups, for the cupsd of this machine's socket or
/// localhost:631); none otherwise.
std::optional<unsigned long long> localSpoolFree();

/// The job title: the last component of the request's file path, or "Artwork" without one.
std::string jobTitle(const PrintRequest& request);

}  // namespace vardelle::printing
