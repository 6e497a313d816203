#include "printing/job/send_job.h"

#include "base/print_failure.h"
#include "printing/cups/connection.h"
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

// The queue's own entry for `media`, the one the paper was measured from.
MediaEntry queueMediaEntry(http_t* http, const std::string& destination, const std::string& media) {
  auto opened = openDestination(http, destination);
  cups_size_t size{};
  if (!cupsGetDestMediaByName(http, opened.first.get(), opened.second.get(), media.c_str(),
                              CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    throw PrintFailure(kPaperChanged);
  }
  return {size.width, size.length, size.left, size.bottom, size.right, size.top};
}

}  // namespace

void sendJob(PrintRoute route, const RouteFacts& facts, const std::string& destination,
             const std::vector<PrintOption>& options, const std::string& media,
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
    target = {cupsd.get(), *uri, localQueueResource(destination)};
    ticket = options;
  } else {
    // The job ticket goes to the printer as written here; the local queue never sees the job.
    const MediaEntry entry = queueMediaEntry(cupsd.get(), destination, media);
    device = connectToDevice(facts.deviceUri);
    if (!device) throw PrintFailure(printerUnreachable(destination));
    target = {device->http.get(), facts.deviceUri, device->resource};
    ticket = deviceJobOptions(options, entry);
  }
  const int jobId = createCheckedJob(target, title, ticket);
  sendJobDocument(target, jobId, title, documentFd, format, spans);
}

}  // namespace vardelle::printing
