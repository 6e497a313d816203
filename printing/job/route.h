#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vardelle::printing {

/// How a job travels to the printer.
enum class PrintRoute {
  /// Through the local CUPS queue: its filters and backend deliver the job.
  localQueue,
  /// Straight to the driverless printer behind the queue (its device URI), with the job ticket
  /// written here: print-scaling=none and the exact media-col reach the printer as sent.
  printerDevice,
};

/// What decides the route of one queue, read at print time.
struct RouteFacts {
  std::string deviceUri;      ///< the queue's device-uri
  std::string cupsVersion;    ///< the cupsd's cups-version, e.g. "2.4.2"; empty when it says none
  bool printerAsked = false;  ///< whether the printer behind the queue was asked (ipp devices)
  std::vector<std::string> printScalingSupported;  ///< the printer's own, empty without any
  std::vector<std::string> documentFormats;        ///< the printer's document-format-supported
};

/// True when a cupsd of `version` ("2.4.2", "2.5b1") forwards a job's print-scaling to IPP
/// printers: 2.4.8 and later (earlier IPP backends drop it, OpenPrinting/cups issue #862).
/// False for anything that does not start with two numbers.
bool cupsForwardsPrintScaling(std::string_view version);

/// True for a device URI this helper can reach itself: ipp:// or ipps:// with a host.
bool isIppDevice(std::string_view deviceUri);

/// Whether `facts` call for asking the printer itself (an IPP device behind a cupsd that drops
/// print-scaling).
bool needsPrinterFacts(const RouteFacts& facts);

/// The route for a queue:
/// - not an IPP device (driver queues, files, USB): the local queue, whose filters honour the
///   exact-size options;
/// - an IPP device behind a cupsd that forwards print-scaling: the local queue;
/// - an IPP device whose printer has no print-scaling, or takes no PDF: the local queue (cupsd
///   then sends a raster of exactly the sheet, made by filters that honour print-scaling=none,
///   and there is no scaling for the printer to apply);
/// - otherwise, a printer that would apply its own print-scaling default to the PDF the queue
///   passes through: the printer's device.
PrintRoute chooseRoute(const RouteFacts& facts);

/// What cupsd says of the queue: device-uri and cups-version; the printer is not asked. Throws
/// PrintFailure: print system gone, printer not installed.
RouteFacts readQueueFacts(const std::string& destination);

/// The queue's route facts: device-uri and cups-version from cupsd, and, where the route depends
/// on them, print-scaling-supported and document-format-supported from the printer itself.
/// Throws PrintFailure: print system gone, printer not installed, and a sentence of its own when
/// the printer behind a driverless queue cannot be reached (its queue alone would shrink the
/// artwork into the margins, so nothing is sent).
RouteFacts readRouteFacts(const std::string& destination);

/// The sentence for a driverless printer behind `destination` that does not answer.
std::string printerUnreachable(const std::string& destination);

/// Throws PrintFailure, before any job, when a printer on the device route cannot print pages
/// unscaled (no "none" in its print-scaling-supported).
void requireUnscaledPrinting(const RouteFacts& facts, const std::string& destination);

}  // namespace vardelle::printing
