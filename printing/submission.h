#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "base/records.h"
#include "printing/print_settings.h"
#include "printing/queue_ppd.h"
#include "printing/snapshot.h"

namespace vardelle::printing {

/// The largest difference, in points, between the saved paper and the paper measured now that
/// still counts as the same paper; applied to each of the six values on its own.
inline constexpr double kPaperDriftTolerance = 0.02;

/// The sentence that ends every failure which may come after a job reached the print queue.
inline constexpr const char* kCheckPrintQueue =
    " Check Print Center before retrying; submission may already have started.";

/// Prints `artwork` (already colour-managed) at exact size on the request's printer with the
/// snapshot's saved settings, without any dialog. Refuses, before any job exists: artwork that
/// does not fit (`document.fits` not true), clipping not acknowledged, driver colour correction
/// left on under application-managed colour, a printer that is not installed or no longer the
/// saved one, saved settings that cannot be restored, paper or margins that moved by more than
/// kPaperDriftTolerance since they were saved, a copies override outside 1 to 99, colour
/// entries that were not kept, and a page that fails to draw (the whole document is composed
/// before anything is sent). Then sends one job with every exact-size option set explicitly and
/// the document as application/pdf, or, for application-managed colour on a Gutenprint queue, as
/// the 16-bit CUPS raster the driver prints from (see takesRasterRoute). Returns ok, the snapshot's
/// summary, `document` and submitted true only when CUPS confirmed the job; a failure once the job
/// may exist ends with kCheckPrintQueue. The job goes through the queue or, for a driverless
/// printer behind a cupsd that drops print-scaling, straight to the printer (see chooseRoute);
/// either way a job the printer accepts with an attribute ignored or substituted that touches the
/// exact output is cancelled before its document is sent. Throws PrintFailure (or the failure of a
/// called module).
HelperResult submit(const artwork::Artwork& artwork, const PrintRequest& request,
                    const NativeSnapshot& snapshot, const DocumentInfo& document);

/// Sets the copy count of `settings` to `copies`; absent leaves it. Throws PrintFailure outside
/// 1 to 99, or when the store refuses the value.
void applyCopiesOverride(PrintSettings& settings, std::optional<int64_t> copies);

/// Throws PrintFailure unless each of the six values of `current` lies within
/// kPaperDriftTolerance of `saved` (a value that is not a number never does).
void requireSamePaper(const artwork::PaperGeometry& saved, const artwork::PaperGeometry& current);

/// The job title: the last component of the request's file path, or "Artwork" without one.
std::string jobTitle(const PrintRequest& request);

/// The options of the job made from `settings`: the saved options a job may carry (never the
/// orientation, which the sheets already have, nor this application's own colour entries, nor
/// placementOptionsNeverSent), then media = `media` and every exactSizeOptions entry set
/// explicitly (a driver option only when `ppd` has it), copies (the settings' count, 1 without
/// one), and cm-calibration only for application-managed colour. A saved PageSize (the queue's
/// own entry) goes to a queue with a PPD (`ppd`) as saved, so that CUPS cannot map the media to a
/// same-size neighbour; without one it is left out.
std::vector<PrintOption> jobOptions(const PrintSettings& settings, const std::string& media,
                                    const QueuePpd* ppd = nullptr);

/// Throws PrintFailure, naming the setting, when `ppd` has a driver option of exactSizeOptions
/// but not the choice that keeps the size (a Gutenprint PPD without StpiShrinkOutput=Crop).
void requireExactSizeChoices(const QueuePpd& ppd);

/// A sheet as a queue's media database holds it, in hundredths of a millimetre, portrait.
struct MediaEntry {
  int width = 0, length = 0;
  int left = 0, bottom = 0, right = 0, top = 0;
};

/// The options of a job that goes straight to a driverless printer, made from `options`
/// (jobOptions' result): the sheet as one media-col with the entry's size and margins (and the
/// saved media-source and media-type), print-scaling=none, copies, sides and number-up kept; the
/// options only the CUPS filters understand (media by name, fit-to-page, page-border, mirror,
/// page-set, outputorder, job-sheets, cm-calibration) left out, since no filter runs on that
/// road; a PPD colour model or print quality said in IPP's words (print-color-mode,
/// print-quality) unless those are set; other PPD options dropped.
std::vector<PrintOption> deviceJobOptions(const std::vector<PrintOption>& options,
                                          const MediaEntry& media);

/// The /Rotate that turns a sheet of `orientation` onto portrait media the way the CUPS filters
/// turn it (see orientedGeometry): 0, 90 (landscape), 180 or 270.
int sheetRotation(Orientation orientation);

}  // namespace vardelle::printing
