#include "printing/job/submission.h"

#include "base/print_failure.h"
#include "printing/job/destination.h"
#include "printing/job/job_document.h"
#include "printing/job/job_plan.h"
#include "printing/job/last_check.h"
#include "printing/job/send_job.h"

namespace vardelle::printing {

HelperResult submit(const artwork::Artwork& artwork, const PrintRequest& request,
                    const NativeSnapshot& snapshot, const DocumentInfo& document) {
  if (document.fits != true) {
    throw PrintFailure("The artwork exceeds the paper. Reduce scale or choose larger paper.");
  }
  if (document.requiresClipping && request.acceptMarginClipping != true) {
    throw PrintFailure(
        "The artwork extends into unprintable margins. Preview the clipped result and "
        "acknowledge margin clipping before printing.");
  }
  const ColorManagement color = request.colorSettings();
  CheckedDestination destination = checkDestination(request, snapshot);
  const JobPlan plan = planJob(destination, request, color, artwork.pages.size());
  const JobDocument made = makeDocument(plan, artwork, snapshot.paper, request);
  lastCheck(destination, plan, made, request, snapshot);
  sendJob(destination, plan, made);

  HelperResult result;
  result.ok = true;
  result.summary = snapshot.summary;
  result.document = document;
  result.submitted = true;
  return result;
}

}  // namespace vardelle::printing
