#include "printing/job/ipp_job.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <vector>

#include "base/diagnostics.h"
#include "base/print_failure.h"

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

}  // namespace

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
  ipp_t* request = jobRequest(IPP_OP_CREATE_JOB, target);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  const CupsOptions encoded(options);
  cupsEncodeOptions2(request, encoded.count(), encoded.get(), IPP_TAG_OPERATION);
  cupsEncodeOptions2(request, encoded.count(), encoded.get(), IPP_TAG_JOB);
  // cupsDoRequest takes the request and frees it.
  IppMessage response(cupsDoRequest(target.http, request, target.resource.c_str()));
  const ipp_status_t status = cupsLastError();
  const std::vector<std::string> changed =
      response ? substitutedAttributes(response.get()) : std::vector<std::string>{};
  ipp_attribute_t* id =
      response ? ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER) : nullptr;
  const int jobId = id ? ippGetInteger(id, 0) : 0;

  if (!ippSucceeded(status) || jobId <= 0) {
    cupsNote("Create-Job");
    if (!changed.empty())
      failLate(target, "The printer refused the job's " + joined(changed) + ".");
    failLate(target, kNotConfirmed);
  }
  if (!changed.empty()) {
    // Accepted, but not as asked: printed so, it would not match the preview. The job holds no
    // document yet, so cancelling it prints nothing.
    cupsNote("Create-Job accepted the job with ignored or substituted attributes");
    cancelJob(target, jobId);
    failLate(target,
             "The printer would have ignored or changed " + joined(changed) +
                 " for this job, so it would not print at exact size; the job was cancelled.");
  }
  if (status != IPP_STATUS_OK) cupsNote("Create-Job accepted the job with a remark");
  return jobId;
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
  auto abandon = [&](const char* what, const char* reason, bool broken) {
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
  if (cupsSendRequest(target.http, request, target.resource.c_str(), CUPS_LENGTH_VARIABLE) !=
      HTTP_STATUS_CONTINUE) {
    abandon("Send-Document", kStoppedAnswering, true);
  }
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
  if (!ippSucceeded(cupsLastError())) {
    cupsNote("Send-Document");
    failLate(target, kNotConfirmed);
  }
}

void cancelJob(const JobTarget& target, int jobId) {
  ipp_t* request = jobRequest(IPP_OP_CANCEL_JOB, target);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  IppMessage response(cupsDoRequest(target.http, request, target.resource.c_str()));
  if (!ippSucceeded(cupsLastError())) cupsNote("Cancel-Job");
}

}  // namespace vardelle::printing
