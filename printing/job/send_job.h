#pragma once

#include <string>
#include <vector>

#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// Sends the composed document (the file open as `documentFd`, of MIME type `format`, its
/// `spans` in order or the whole file without any; see sendJobDocument) as one job titled `title`
/// by `route`: through the local queue of `destination` with `options` (jobOptions), or straight to
/// the printer of `facts.deviceUri` with the device ticket made from `options` and the queue's
/// entry for `media` (deviceJobOptions). Everything before Create-Job leaves the printer untouched
/// and is said plainly (print system gone, printer not installed or unreachable, the queue's paper
/// gone); from Create-Job on a failure may leave a job behind, so its sentence ends with
/// kCheckPrintQueue. Throws PrintFailure.
void sendJob(PrintRoute route, const RouteFacts& facts, const std::string& destination,
             const std::vector<PrintOption>& options, const std::string& media,
             const std::string& title, int documentFd, const char* format = CUPS_FORMAT_PDF,
             const std::vector<FileSpan>& spans = {});

}  // namespace vardelle::printing
