#include "printing/job/send_job.h"

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printer_media.h"
#include "printing/cups/printer_trust.h"
#include "printing/cups/printers_internal.h"
#include "printing/job/ipp_job.h"
#include "printing/job/job_options.h"

namespace vardelle::printing {
namespace {

// The destination and its capabilities on `http`: a queue that vanished since the checks is
// "not installed", a print system that stopped answering is said as such.
void requireDestination(http_t* http, const std::string& name) {
  Destination dest = namedDestination(http, name);
  DestinationInfo info(cupsCopyDestInfo(http, dest.get()));
  if (!info) {
    cupsNote("cupsCopyDestInfo");
    throw PrintFailure(kPrintSystemUnavailable);
  }
}

}  // namespace

void sendJob(const CheckedDestination& destination, const JobPlan& plan,
             const JobDocument& document) {
  const std::string& queue = destination.settings.printerName();
  const RouteFacts& facts = destination.facts;
  std::optional<HttpConnection> cupsd;
  std::optional<DeviceConnection> device;
  std::optional<JobTarget> target;
  std::vector<PrintOption> ticket;
  if (destination.route == PrintRoute::localQueue) {
    cupsd = connectToPrintSystem();
    requireDestination(cupsd->get(), queue);
    target = JobTarget::toQueue(cupsd->get(), queue);
    ticket = plan.options;
  } else {
    // The printer places the sheet by what it offers itself, not by the queue's copy of it: the
    // entry the paper was measured from must still be one of the printer's own, margins and all
    // (a borderless sheet and its bordered neighbour share a size and a name), and the ticket
    // names the printer's entry exactly. The local queue never sees the job.
    const MediaEntry entry =
        printerEntryFor(facts.media, destination.paper.sheet, std::string(queueName(queue)));
    if (!facts.printerCertificate && facts.printerUri.starts_with("ipps:")) {
      throw PrintFailure(printerNotTrusted(queue));
    }
    const CertificateTrust trust = facts.printerCertificate
                                       ? CertificateTrust(*facts.printerCertificate)
                                       : CertificateTrust(TrustAsCupsDoes{});
    DeviceFailure failure = DeviceFailure::none;
    device = connectToDevice(facts.printerUri, facts.printerAddress, trust, &failure);
    if (failure == DeviceFailure::untrusted) throw PrintFailure(printerNotTrusted(queue));
    if (!device) throw PrintFailure(printerUnreachable(queue));
    target = JobTarget::toPrinter(*device, queue);
    ticket = deviceJobOptions(plan.options, entry);
  }
  const int jobId = createCheckedJob(*target, plan.title, ticket);
  sendJobDocument(*target, jobId, plan.title, document.file->fd(), document.format, document.spans);
}

}  // namespace vardelle::printing
