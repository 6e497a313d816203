#include "printing/job/ipp_job.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "printing/cups/printers_internal.h"
#include "printing/job/route.h"

namespace vardelle::printing {
namespace {

constexpr const char* kNotConfirmed = "macOS did not confirm a successful print operation.";

bool ippSucceeded(ipp_status_t status) { return status <= IPP_STATUS_OK_EVENTS_COMPLETE; }

[[noreturn]] void failLate(const JobTarget& target, const std::string& reason) {
  throw PrintFailure(reason + kCheckPrintQueue + target.whereabouts);
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

ipp_t* jobRequest(ipp_op_t operation, const JobTarget& target) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               target.printerUri.c_str());
  return request;
}

// A request on the target's connection, over a connection that still shows the printer's
// certificate (doCheckedRequest); none when nothing was answered.
IppMessage targetRequest(const JobTarget& target, ipp_t* request, bool* untrusted) {
  return doCheckedRequest(target.http, target.certificate, request, target.resource.c_str(),
                          untrusted);
}

}  // namespace

JobTarget JobTarget::toQueue(http_t* cupsd, std::string_view destination) {
  const std::optional<std::string> uri = localQueueUri(destination);
  if (!uri) throw PrintFailure(kPrinterNotInstalled);
  JobTarget target;
  target.http = cupsd;
  target.printerUri = *uri;
  target.resource = localQueueResource(destination);
  target.reconnect = [] { return std::optional<HttpConnection>(connectToPrintSystem()); };
  return target;
}

JobTarget JobTarget::toPrinter(const DeviceConnection& device, std::string_view queue) {
  JobTarget target;
  target.http = device.http.get();
  target.printerUri = device.uri;
  target.resource = device.resource;
  target.whereabouts = deviceJobWhereabouts(device.uri);
  target.queue = std::string(queue);
  target.certificate = device.certificate;
  target.busyWait = kPrinterBusyLimit;
  target.reconnect = [&device]() -> std::optional<HttpConnection> {
    const CertificateTrust trust =
        device.certificate ? CertificateTrust(*device.certificate) : TrustAsCupsDoes{};
    std::optional<DeviceConnection> again = connectToDevice(device.uri, device.address, trust);
    if (!again) return std::nullopt;
    return std::move(again->http);
  };
  return target;
}

bool printerBusy(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_BUSY || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE ||
         status == IPP_STATUS_ERROR_TEMPORARY;
}

std::chrono::milliseconds busyPause(int attempt) {
  static constexpr int kSeconds[] = {1, 1, 2, 3, 5};
  const int seconds = kSeconds[std::min<size_t>(size_t(std::max(attempt, 0)), 4)];
  static thread_local std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<int> spread(-250 * seconds, 250 * seconds);
  return std::chrono::milliseconds(1000 * seconds + spread(random));
}

bool touchesExactOutput(std::string_view attribute) {
  // media-col, media-size, media-top-margin, media-source, media-type, … all decide the sheet
  // and its printable area.
  if (attribute.starts_with("media")) return true;
  static constexpr std::string_view kNames[] = {
      "print-scaling",
      "copies",
      "sides",
      "orientation-requested",
      "number-up",
      "page-ranges",
      "print-color-mode",
      "print-rendering-intent",
      "output-mode",
      "fit-to-page",
      "scaling",
      "cm-calibration",
      "ColorModel",
      "PageSize",
      "PageRegion",
      "printer-resolution",
      "x-image-position",
      "y-image-position",
      "x-image-shift",
      "y-image-shift",
  };
  return std::find(std::begin(kNames), std::end(kNames), attribute) != std::end(kNames);
}

std::vector<std::string> substitutedAttributes(ipp_t* response) {
  std::vector<std::string> names;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (ippGetGroupTag(a) != IPP_TAG_UNSUPPORTED_GROUP || !ippGetName(a)) continue;
    const std::string name = ippGetName(a);
    if (touchesExactOutput(name) && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
  }
  return names;
}

int createCheckedJob(const JobTarget& target, const std::string& title,
                     const std::vector<PrintOption>& options) {
  const auto deadline = std::chrono::steady_clock::now() + target.busyWait;
  for (int attempt = 0;; ++attempt) {
    ipp_t* request = jobRequest(IPP_OP_CREATE_JOB, target);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    const CupsOptions encoded(options);
    cupsEncodeOptions2(request, encoded.count(), encoded.get(), IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, encoded.count(), encoded.get(), IPP_TAG_JOB);
    bool untrusted = false;
    IppMessage response = targetRequest(target, request, &untrusted);
    // The request went to whoever showed that certificate, not to the printer: nothing of the
    // artwork was sent, and the printer holds no job of this run.
    if (untrusted) throw PrintFailure(printerNotTrusted(target.queue));
    const ipp_status_t status = response ? ippGetStatusCode(response.get()) : cupsLastError();
    if (response && printerBusy(status) && target.busyWait.count() > 0) {
      // Single-job firmware answers so while it prints another job, and creates nothing:
      // asking again later is what CUPS' ipp backend does behind a queue.
      const std::chrono::milliseconds pause = busyPause(attempt);
      if (std::chrono::steady_clock::now() + pause > deadline) {
        cupsNote("Create-Job");
        throw PrintFailure(printerStillBusy(target.queue, target.busyWait));
      }
      debugNote(std::string("Create-Job: the printer is busy (") + ippErrorString(status) +
                "); asking again in " + std::to_string(pause.count()) + " ms");
      std::this_thread::sleep_for(pause);
      continue;
    }
    const std::vector<std::string> changed =
        response ? substitutedAttributes(response.get()) : std::vector<std::string>{};
    ipp_attribute_t* id =
        response ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER) : nullptr;
    const int jobId = id ? ippGetInteger(id, 0) : 0;

    if (response && !ippSucceeded(status)) {
      // An error answer creates no job: nothing waits anywhere, so the sentence says so rather
      // than sending the user to look for a submission.
      cupsNote("Create-Job");
      if (!changed.empty()) {
        throw PrintFailure("The printer refused the job's " + joined(changed) + ".");
      }
      throw PrintFailure("The printer refused the job, so nothing was sent to it.");
    }
    if (!ippSucceeded(status) || jobId <= 0) {
      // No answer (the request may have created a job all the same), or one without its job.
      cupsNote("Create-Job");
      failLate(target, kNotConfirmed);
    }
    if (!changed.empty()) {
      // Accepted, but not as asked: printed so, it would not match the preview. The job holds
      // no document yet, so cancelling it prints nothing.
      cupsNote("Create-Job accepted the job with ignored or substituted attributes");
      cancelJob(target, jobId);
      failLate(target,
               "The printer would have ignored or changed " + joined(changed) +
                   " for this job, so it would not print at exact size; the job was cancelled.");
    }
    if (status != IPP_STATUS_OK) cupsNote("Create-Job accepted the job with a remark");
    return jobId;
  }
}

void sendJobDocument(const JobTarget& target, int jobId, const std::string& title, int documentFd,
                     const char* format, const std::vector<FileSpan>& spans) {
  ipp_t* request = jobRequest(IPP_OP_SEND_DOCUMENT, target);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "document-name", nullptr, title.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
  // cupsSendRequest leaves the request to its caller.
  IppMessage owned(request);

  // A job whose document did not arrive whole is cancelled rather than left to print a
  // truncated file; the user is still sent to the queue, since the cancel may not get through.
  // A connection that broke on the way cannot carry the cancel: a new one is tried.
  auto abandon = [&](const char* what, const std::string& reason, bool broken) {
    cupsNote(what);
    if (broken && target.reconnect) {
      if (std::optional<HttpConnection> again = target.reconnect()) {
        JobTarget fresh = target;
        fresh.http = again->get();
        cancelJob(fresh, jobId);
      } else {
        debugNote("the job could not be cancelled: the printer no longer answers");
      }
    } else {
      cancelJob(target, jobId);
    }
    failLate(target, reason);
  };
  // Chunked, as cupsStartDestDocument sends: ippeveprinter stops reading a document of declared
  // length early and takes the rest for a new request.
  bool untrusted = false;
  const http_status_t started =
      sendCheckedRequest(target.http, target.certificate, request, target.resource.c_str(),
                         CUPS_LENGTH_VARIABLE, &untrusted);
  // No byte of the document goes to a connection that shows another certificate; the job the
  // printer created is cancelled over a connection that shows the right one, where it answers.
  if (untrusted) abandon("Send-Document", printerNotTrusted(target.queue), true);
  if (started != HTTP_STATUS_CONTINUE) abandon("Send-Document", kStoppedAnswering, true);
  std::vector<char> chunk(64 * 1024);
  const std::vector<FileSpan> whole{{0, std::numeric_limits<off_t>::max()}};
  for (const FileSpan& span : spans.empty() ? whole : spans) {
    for (off_t at = span.offset, end = span.offset + span.length; at < end;) {
      const size_t wanted = size_t(std::min<off_t>(off_t(chunk.size()), end - at));
      const ssize_t length = ::pread(documentFd, chunk.data(), wanted, at);
      if (length < 0 && errno == EINTR) continue;
      if (length < 0) abandon("reading the job's document", kNotConfirmed, false);
      if (length == 0) {
        // The end of the file ends the whole-file read; a span cut short is a document cut short.
        if (!spans.empty()) abandon("reading the job's document", kNotConfirmed, false);
        break;
      }
      if (cupsWriteRequestData(target.http, chunk.data(), size_t(length)) != HTTP_STATUS_CONTINUE) {
        abandon("Send-Document data", kStoppedAnswering, true);
      }
      at += length;
    }
  }
  IppMessage response(cupsGetResponse(target.http, target.resource.c_str()));
  if (!response) abandon("Send-Document", kStoppedAnswering, true);
  // A printer that refuses the document keeps the job it created for it, which a single-job
  // printer holds as its active job, busy for everyone, until it is cancelled.
  if (!ippSucceeded(ippGetStatusCode(response.get()))) {
    abandon("Send-Document", kNotConfirmed, false);
  }
}

void cancelJob(const JobTarget& target, int jobId) {
  ipp_t* request = jobRequest(IPP_OP_CANCEL_JOB, target);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  bool untrusted = false;
  IppMessage response = targetRequest(target, request, &untrusted);
  if (untrusted || !response || !ippSucceeded(ippGetStatusCode(response.get()))) {
    cupsNote("Cancel-Job");
  }
}

}  // namespace vardelle::printing
