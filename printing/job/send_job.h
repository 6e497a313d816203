#pragma once

// The last step of a print: the job.

#include "printing/job/destination.h"
#include "printing/job/job_document.h"
#include "printing/job/job_plan.h"

namespace vardelle::printing {

/// Sends `document` as one job of `plan` by the route of `destination`: through its local queue
/// with the plan's options, or straight to the printer of its route facts with the device ticket
/// made from them and the printer's own entry for the measured sheet, margins and all
/// (printerEntryFor, deviceJobOptions), over connections that show the certificate the printer
/// was confirmed with. Everything before Create-Job leaves the printer untouched and is said
/// plainly (print system gone, printer not installed, unreachable or not trusted, the printer's
/// paper gone or changed); from Create-Job on a failure may leave a job behind, so its sentence
/// ends with kCheckPrintQueue, and for a job sent straight to the printer with where it went
/// (deviceJobWhereabouts). Throws PrintFailure.
void sendJob(const CheckedDestination& destination, const JobPlan& plan,
             const JobDocument& document);

}  // namespace vardelle::printing
