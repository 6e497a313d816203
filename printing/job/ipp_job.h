#pragma once

// One print job written as IPP requests of its own (printing/*.cc only), so that the printer's
// answer to Create-Job can be read before any document is sent.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/cups/connection.h"
#include "printing/cups/printer_trust.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The sentence that ends every failure which may come after a job reached the print queue.
inline constexpr const char* kCheckPrintQueue =
    " Check Print Center before retrying; submission may already have started.";

/// Where a job is created and its document sent: a connection, the printer-uri to name and
/// the resource to post to (a cupsd queue or a printer itself). Made only by toQueue or
/// toPrinter, which work each string out from what names it, so that none can take another's
/// place.
class JobTarget {
 public:
  /// The local queue of `destination` ("queue" or "queue/instance") on `cupsd`, a connection to
  /// the print system: its printer-uri and resource as cupsd knows them; a busy answer is a
  /// refusal there (cupsd queues jobs itself); the job is cancelled on a new connection to the
  /// print system when `cupsd` broke. Throws PrintFailure(kPrinterNotInstalled) for a name no
  /// queue can have.
  static JobTarget toQueue(http_t* cupsd, std::string_view destination);
  /// The printer `device` is connected to, behind the queue `queue` (named in its sentences):
  /// its URI and resource, where a late failure sends the user (deviceJobWhereabouts), the
  /// certificate it showed (pinned for every later connection), kPrinterBusyLimit of waiting for
  /// a busy printer, and a new connection to it (at the same address, showing the same
  /// certificate) to cancel a job after `device`'s broke. `device` must outlive the target.
  static JobTarget toPrinter(const DeviceConnection& device, std::string_view queue);

  http_t* http = nullptr;
  std::string printerUri;
  std::string resource;
  /// Said after kCheckPrintQueue in every late failure: where the job went when that is not the
  /// print queue (deviceJobWhereabouts); empty for a job in the queue.
  std::string whereabouts;
  /// A new connection to the same place, for cancelling a job after `http` broke; none when
  /// nobody answers. Without it the job is cancelled on `http`.
  std::function<std::optional<HttpConnection>()> reconnect;
  /// The queue whose printer this is, on the device route, for the sentences that name it;
  /// empty for a job through cupsd.
  std::string queue;
  /// For an ipps printer, the certificate it was confirmed with: no request and no document
  /// byte goes over a connection that shows another one (sendCheckedRequest). None otherwise.
  std::optional<PinnedCertificate> certificate;
  /// How long a printer that answers Create-Job "busy" or "try again later" is waited for and
  /// asked again (kPrinterBusyLimit on the device route); zero: such an answer is a refusal.
  std::chrono::milliseconds busyWait{0};

 private:
  JobTarget() = default;
};

/// How long a printer that is busy with other work is waited for on the device route, as CUPS'
/// ipp backend waits for it behind a queue (which the device route bypasses).
inline constexpr std::chrono::seconds kPrinterBusyLimit{60};

/// True for the answers to Create-Job that mean "try again later" and create nothing:
/// server-error-busy, server-error-service-unavailable and server-error-temporary-error.
bool printerBusy(ipp_status_t status);

/// The pause before asking a busy printer again after `attempt` earlier tries (0, 1, …):
/// 1, 1, 2, 3, 5 s and then 5 s each time, as CUPS' ipp backend steps its delays, each varied
/// by up to a quarter so that several prints waiting for one printer do not ask in step.
std::chrono::milliseconds busyPause(int attempt);

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
/// returns its id. A printer that answers "busy" or "try again later" (printerBusy) is asked
/// again after busyPause for up to the target's busyWait. Throws PrintFailure: the printer
/// refused the job (naming the attributes it called unsupported, when it did) or stayed busy
/// past busyWait, said as such since no job exists (no kCheckPrintQueue); no answer at all, a
/// job that the answer does not name, or a job accepted while ignoring or substituting an
/// attribute that touches the exact output (cancelled first, its document never sent), each
/// ending with kCheckPrintQueue; a connection that shows another certificate than the target's,
/// with the untrusted-printer sentence (printerNotTrusted).
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
