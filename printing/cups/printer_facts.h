#pragma once

// What decides how a job reaches its printer, read at print time: what cupsd says of the queue
// (device URI, its own version, the make and model), and, for a driverless printer whose
// job ticket would not reach it whole through the queue, what the printer itself says (found
// through DNS-SD or cups-browsed first, confirmed as the queue's, its certificate pinned).

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/cups/dnssd_printers.h"
#include "printing/cups/printer_media.h"
#include "printing/cups/printer_trust.h"
#include "printing/cups/printers.h"

namespace vardelle::printing {

/// What decides the route of one queue, read at print time.
struct RouteFacts {
  std::string deviceUri;     ///< the queue's device-uri
  std::string cupsVersion;   ///< the cupsd's cups-version, e.g. "2.4.2"; empty when it says none
  std::string makeAndModel;  ///< the queue's printer-make-and-model
  /// The printer's own URI: the device URI, or what its DNS-SD name or cups-browsed queue was
  /// found to stand for ("ipps://localhost:8700/ipp/print"); empty until asked.
  std::string printerUri;
  std::string printerAddress;  ///< the address DNS-SD resolved the printer to; empty otherwise
  /// For an ipps printer, the certificate it showed when it was asked and confirmed
  /// (DeviceConnection::certificate); the job goes only over connections that show it.
  std::optional<PinnedCertificate> printerCertificate;
  std::optional<AnnouncedPrinter> service;  ///< the DNS-SD service the printer was found as
  bool printerAsked = false;  ///< whether the printer behind the queue was asked (ipp devices)
  /// The UUID ("urn:uuid:…") of the printer behind the queue, as it answered and, when DNS-SD
  /// announced one, confirmed against that; none until asked, or when the printer says none.
  std::optional<std::string> printerUuid;
  std::vector<std::string> printScalingSupported;  ///< the printer's own, empty without any
  std::vector<std::string> documentFormats;        ///< the printer's document-format-supported
  PrinterMedia media;                              ///< the printer's media-col-database
  /// The most copies the printer makes itself: the upper bound of its copies-supported, 1 when
  /// it lists none.
  int printerCopiesUpTo = 1;
  /// The printer's multiple-document-handling-supported, empty without any.
  std::vector<std::string> documentHandling;
};

/// True when a cupsd of `version` ("2.4.2", "2.5b1") forwards a job's print-scaling to IPP
/// printers: 2.4.8 and later (earlier IPP backends drop it, OpenPrinting/cups issue #862).
/// False for anything that does not start with two numbers.
bool cupsForwardsPrintScaling(std::string_view version);

/// True for a device URI this helper can reach itself: ipp:// or ipps:// with a host that is not
/// a DNS-SD service name.
bool isIppDevice(std::string_view deviceUri);

/// True for a device URI whose printer is found through DNS-SD first: a service name (dnssd://,
/// ipp(s)://<service>._ipp(s)._tcp.<domain>/) or a cups-browsed queue (implicitclass://).
bool isDnssdDevice(std::string_view deviceUri);

/// Whether `facts` call for asking the printer itself (an IPP or DNS-SD device behind a cupsd
/// that drops print-scaling).
bool needsPrinterFacts(const RouteFacts& facts);

/// What cupsd says of the queue: device-uri, cups-version and printer-make-and-model; the printer
/// is not asked. Throws PrintFailure: print system gone, printer not installed.
RouteFacts readQueueFacts(const std::string& destination);

/// The queue's route facts: device-uri and cups-version from cupsd, and, where the route depends
/// on them, print-scaling-supported, document-format-supported and media-col-database from the
/// printer itself. A printer known by a DNS-SD name or through cups-browsed is first found on
/// the network (within kPrinterSearchLimit; see choosePrinter) and confirmed to be the queue's
/// (confirmPrinter); an ipps printer's certificate is saved in libcups' store only then. Every
/// request goes over a connection checked by sendCheckedRequest. Throws PrintFailure, before any
/// job: print system gone, printer not installed, and a sentence of its own when the printer behind
/// a driverless queue cannot be found, told apart from others, confirmed, reached or trusted (its
/// queue alone would shrink the artwork into the margins, so nothing is sent).
/// `askPrinter` asks the printer of an IPP or DNS-SD device even where the route does not
/// depend on it (to learn its printerUuid).
RouteFacts readRouteFacts(const std::string& destination, bool askPrinter = false);

/// The UUID ("urn:uuid:…") of the printer behind `destination`, for verifyPrinter: the one its
/// dnssd:// device URI names (CUPS' backend prints only to a service announcing that UUID, so no
/// printer need answer); otherwise that of the printer readRouteFacts(destination, true) finds
/// and confirms, whose facts are kept in `facts` for the route. None for a queue that does not
/// print to a network printer. Throws what readRouteFacts throws.
std::optional<std::string> printerUuidBehind(const std::string& destination,
                                             std::optional<RouteFacts>& facts);

/// printerUuidBehind for verifyPrinter's `printerBehind`, the route facts dropped: what `settings`
/// asks when the preset names the printer rather than the queue.
PrinterBehind printerBehind(const std::string& destination);

/// The sentence for a driverless printer behind `destination` that does not answer.
std::string printerUnreachable(const std::string& destination);

/// The sentence for an ipps printer behind `destination` whose certificate is not trusted.
std::string printerNotTrusted(const std::string& destination);

/// The sentence for a printer behind `destination` that was still busy with other work after
/// being waited for `waited`: nothing was created or sent.
std::string printerStillBusy(const std::string& destination, std::chrono::milliseconds waited);

}  // namespace vardelle::printing
