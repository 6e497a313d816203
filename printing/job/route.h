#pragma once

// How a job travels to the printer: through the local queue, or straight to the driverless
// printer behind it, decided from what the queue and the printer say (printer_facts.h).

#include <string>

#include "printing/cups/printer_facts.h"

namespace vardelle::printing {

/// How a job travels to the printer.
enum class PrintRoute {
  /// Through the local CUPS queue: its filters and backend deliver the job.
  localQueue,
  /// Straight to the driverless printer behind the queue (its device URI, or the printer its
  /// DNS-SD name or cups-browsed queue stands for), with the job ticket written here:
  /// print-scaling=none and the exact media-col reach the printer as sent.
  printerDevice,
};

/// The route for a queue:
/// - not an IPP or DNS-SD device (driver queues, files, USB): the local queue, whose filters
///   honour the exact-size options;
/// - an IPP device behind a cupsd that forwards print-scaling: the local queue;
/// - an IPP device whose printer has no print-scaling, or takes no PDF: the local queue (cupsd
///   then sends a raster of exactly the sheet, made by filters that honour print-scaling=none,
///   and there is no scaling for the printer to apply);
/// - otherwise, a printer that would apply its own print-scaling default to the PDF the queue
///   passes through: the printer's device.
PrintRoute chooseRoute(const RouteFacts& facts);

/// Said after the print-queue sentence of a late failure on the device route, so that the user
/// looks for the job where it is: the printer's own job list, not the local queue.
std::string deviceJobWhereabouts(const std::string& printerUri);

/// Throws PrintFailure, before any job, when a printer on the device route cannot print pages
/// unscaled (no "none" in its print-scaling-supported).
void requireUnscaledPrinting(const RouteFacts& facts, const std::string& destination);

}  // namespace vardelle::printing
