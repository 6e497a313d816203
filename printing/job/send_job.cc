#include "printing/job/send_job.h"

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printer_media.h"
#include "printing/cups/printers.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/same_sheet.h"
#include "printing/job/ipp_job.h"
#include "printing/job/job_options.h"

namespace vardelle::printing {
namespace {

// The destination and its capabilities on `http`; a queue that vanished since the checks is
// "not installed", a print system that stopped answering is said as such.
std::pair<Destination, DestinationInfo> openDestination(http_t* http, const std::string& name) {
  Destination dest = namedDestination(http, name);
  DestinationInfo info(cupsCopyDestInfo(http, dest.get()));
  if (!info) {
    cupsNote("cupsCopyDestInfo");
    throw PrintFailure(kPrintSystemUnavailable);
  }
  return {std::move(dest), std::move(info)};
}

}  // namespace

void sendJob(PrintRoute route, const RouteFacts& facts, const std::string& destination,
             const std::vector<PrintOption>& options, const MediaEntry& sheet,
             const std::string& title, int documentFd, const char* format,
             const std::vector<FileSpan>& spans) {
  HttpConnection cupsd = connectToPrintSystem();
  std::optional<DeviceConnection> device;
  JobTarget target;
  std::vector<PrintOption> ticket;
  if (route == PrintRoute::localQueue) {
    openDestination(cupsd.get(), destination);
    const std::optional<std::string> uri = localQueueUri(destination);
    if (!uri) throw PrintFailure(kPrinterNotInstalled);
    target = {cupsd.get(), *uri, localQueueResource(destination), "", {}};
    target.reconnect = [] { return std::optional<HttpConnection>(connectToPrintSystem()); };
    ticket = options;
  } else {
    // The printer places the sheet by what it offers itself, not by the queue's copy of it: the
    // entry the paper was measured from must still be one of the printer's own, margins and all
    // (a borderless sheet and its bordered neighbour share a size and a name), and the ticket
    // names the printer's entry exactly. The local queue never sees the job.
    const MediaEntry entry =
        printerEntryFor(facts.media, sheet, std::string(queueName(destination)));
    DeviceFailure failure = DeviceFailure::none;
    device =
        connectToDevice(facts.printerUri, facts.printerAddress, &failure, facts.printerCertificate);
    if (failure == DeviceFailure::untrusted) throw PrintFailure(printerNotTrusted(destination));
    if (!device) throw PrintFailure(printerUnreachable(destination));
    target = {device->http.get(),
              facts.printerUri,
              device->resource,
              deviceJobWhereabouts(facts.printerUri),
              {},
              destination,
              facts.printerCertificate,
              kPrinterBusyLimit};
    target.reconnect = [&facts]() -> std::optional<HttpConnection> {
      std::optional<DeviceConnection> again = connectToDevice(
          facts.printerUri, facts.printerAddress, nullptr, facts.printerCertificate);
      if (!again) return std::nullopt;
      return std::move(again->http);
    };
    ticket = deviceJobOptions(options, entry);
  }
  const int jobId = createCheckedJob(target, title, ticket);
  sendJobDocument(target, jobId, title, documentFd, format, spans);
}

}  // namespace vardelle::printing
