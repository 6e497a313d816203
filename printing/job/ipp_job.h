#pragma once

// One print job written as IPP requests of its own (printing/*.cc only), so that the printer's
// answer to Create-Job can be read before any document is sent.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/cups/connection.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The sentence that ends every failure which may come after a job reached the print queue.
inline constexpr const char* kCheckPrintQueue =
    " Check Print Center before retrying; submission may already have started.";

/// Where a job is created and its document sent: a connection, the printer-uri to name and
/// the resource to post to (a cupsd queue or a printer itself).
struct JobTarget {
  http_t* http = nullptr;
  std::string printerUri;
  std::string resource;
  /// Said after kCheckPrintQueue in every late failure: where the job went when that is not the
  /// print queue (deviceJobWhereabouts); empty for a job in the queue.
  std::string whereabouts;
  /// A new connection to the same place, for cancelling a job after `http` broke; none when
  /// nobody answers. Without it the job is cancelled on `http`.
  std::function<std::optional<HttpConnection>()> reconnect;
};

/// The reason of a late failure when the printer or print system stopped answering while the
/// document was being sent.
inline constexpr const char* kStoppedAnswering =
    "The printer stopped answering while the artwork was being sent to it.";

/// True for the job attributes whose loss or change alters the size, placement or colour of
/// what prints: media and media-col (and their members), print-scaling, copies, sides,
/// orientation, number-up, the colour attributes, and the CUPS and PPD options that stand for
/// them. Names are compared as IPP spells them.
bool touchesExactOutput(std::string_view attribute);

/// The names, in order, of the attributes in the unsupported-attributes group of `response`
/// for which touchesExactOutput holds (a member such as media-top-margin in a media-col is
/// named by its collection).
std::vector<std::string> substitutedAttributes(ipp_t* response);

/// Creates a job named `title` with `options` (encoded as libcups encodes job options) and
/// returns its id. Throws PrintFailure, each sentence ending with kCheckPrintQueue: the printer
/// refused the job (naming the attributes it called unsupported, when it did), or accepted it
/// while ignoring or substituting an attribute that touches the exact output, in which case the
/// job is cancelled first and its document never sent.
int createCheckedJob(const JobTarget& target, const std::string& title,
                     const std::vector<PrintOption>& options);

/// A stretch of a document file: `length` bytes from `offset`.
struct FileSpan {
  off_t offset = 0;
  off_t length = 0;
};

/// Sends the file open as `documentFd` as the job's only document, of MIME type `format`: the
/// `spans` of the file one after the other, or, with none, the whole file from its start. A
/// document that does not arrive whole cancels the job, on a new connection when the first one
/// broke, wherever the printer still answers. Throws PrintFailure ending with kCheckPrintQueue
/// (and the target's whereabouts): kStoppedAnswering when the connection was lost on the way,
/// otherwise the printer did not confirm the document.
void sendJobDocument(const JobTarget& target, int jobId, const std::string& title, int documentFd,
                     const char* format = CUPS_FORMAT_PDF, const std::vector<FileSpan>& spans = {});

/// Asks the printer to cancel the job; its answer is not waited for beyond the request.
void cancelJob(const JobTarget& target, int jobId);

}  // namespace vardelle::printing
