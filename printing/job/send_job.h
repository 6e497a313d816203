#pragma once

#include <string>
#include <vector>

#include "printing/cups/printer_media.h"
#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// Sends the composed document (the file open as `documentFd`, of MIME type `format`, its
/// `spans` in order or the whole file without any; see sendJobDocument) as one job titled `title`
/// by `route`: through the local queue of `destination` with `options` (jobOptions), or straight
/// to the printer of `facts.printerUri` with the device ticket made from `options` and the
/// printer's own entry for `sheet`, the queue's entry as measured, margins and all
/// (printerEntryFor, deviceJobOptions). Everything
/// before Create-Job leaves the printer untouched and is said plainly (print system gone, printer
/// not installed, unreachable or not trusted, the queue's or the printer's paper gone or
/// changed); from Create-Job on a failure may leave a job behind, so its sentence ends with
/// kCheckPrintQueue, and for a job sent straight to the printer with where it went
/// (deviceJobWhereabouts). Throws PrintFailure.
void sendJob(PrintRoute route, const RouteFacts& facts, const std::string& destination,
             const std::vector<PrintOption>& options, const MediaEntry& sheet,
             const std::string& title, int documentFd, const char* format = CUPS_FORMAT_PDF,
             const std::vector<FileSpan>& spans = {});

}  // namespace vardelle::printing
