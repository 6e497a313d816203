#pragma once

// A print from request to job, one step after another: the checked destination
// (destination.h), the plan (job_plan.h), the document (job_document.h), the last check
// (last_check.h) and the job (send_job.h).

#include "artwork/artwork.h"
#include "base/records.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {

/// Prints `artwork` (already colour-managed) at exact size on the request's printer with the
/// snapshot's saved settings, without any dialog, for a request whose application-managed colour
/// was checked to have the driver's colour correction disabled (printCommand checks it before
/// anything else). Refuses, before any job exists: artwork that does not fit (`document.fits`
/// not true), clipping not acknowledged, and everything checkDestination, planJob,
/// makeDocument and lastCheck refuse (the whole document is made before anything is sent). Then
/// sends one job with every exact-size option set explicitly (sendJob). Returns ok, the
/// snapshot's summary, `document` and submitted true only when the print system or the printer
/// confirmed the job; a failure once the job may exist ends with kCheckPrintQueue (ipp_job.h).
/// Throws PrintFailure (or the failure of a called module).
HelperResult submit(const artwork::Artwork& artwork, const PrintRequest& request,
                    const NativeSnapshot& snapshot, const DocumentInfo& document);

}  // namespace vardelle::printing
