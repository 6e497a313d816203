#pragma once

// What a job says to the print system or the printer besides its document: the saved choices it
// may carry and the exact-size options, in the words of a CUPS queue or of an IPP printer.

#include <string>
#include <vector>

#include "printing/cups/printer_media.h"
#include "printing/cups/queue_ppd.h"
#include "printing/job/copies.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The options of the job made from `settings`: the saved options a job may carry (never the
/// orientation, which the sheets already have, nor this application's own colour entries, nor
/// placementOptionsNeverSent, nor any saved words for copies, collation or sides), then media =
/// `media` and every exactSizeOptions entry set explicitly (a driver option only when `ppd` has
/// it), the copies and sides of `copies` as copiesAndSidesOptions says them, and cm-calibration
/// only for application-managed colour. A saved PageSize (the queue's own entry) goes to a queue
/// with a PPD (`ppd`) as saved, so that CUPS cannot map the media to a same-size neighbour;
/// without one it is left out.
std::vector<PrintOption> jobOptions(const PrintSettings& settings, const std::string& media,
                                    const QueuePpd* ppd, const CopiesPlan& copies);

/// The options of a job that goes straight to a driverless printer, made from `options`
/// (jobOptions' result): the sheet as one media-col with the entry's size and margins (and the
/// saved media-source and media-type), print-scaling=none, copies, multiple-document-handling,
/// sides and number-up kept; the
/// options only the CUPS filters understand (media by name, fit-to-page, page-border, mirror,
/// page-set, outputorder, job-sheets, cm-calibration) left out, since no filter runs on that
/// road; a PPD colour model or print quality said in IPP's words (print-color-mode,
/// print-quality) unless those are set; other PPD options dropped.
std::vector<PrintOption> deviceJobOptions(const std::vector<PrintOption>& options,
                                          const MediaEntry& media);

}  // namespace vardelle::printing
