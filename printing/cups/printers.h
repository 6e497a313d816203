#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/records.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// Said when the named CUPS destination does not exist (the system's own sentence).
inline constexpr const char* kPrinterNotInstalled =
    "The selected printer is no longer installed on this Mac.";

/// Said when no print system answers (cupsd stopped, CUPS_SERVER pointing nowhere, a cupsd
/// that stopped answering), so that it is never mistaken for a missing printer.
inline constexpr const char* kPrintSystemUnavailable =
    "The print system (CUPS) is not reachable. Make sure the CUPS service is running, then try "
    "again.";

/// A CUPS queue as cupsd describes it.
struct PrinterRecord {
  std::string name;        ///< printer-name, exactly as cupsd spells it
  std::string identifier;  ///< printer-uuid ("urn:uuid:…"): new whenever the queue is re-created
  std::string info;        ///< printer-info
  std::string makeAndModel;  ///< printer-make-and-model
};

/// Asks cupsd (Get-Printer-Attributes) for the destination `name` ("queue" or "queue/instance";
/// an instance shares its queue's identity). None when there is no queue of exactly that name
/// (CUPS itself would also accept another letter case). Throws PrintFailure with a sentence of
/// its own when no print system answers, and another when cupsd refuses the query.
std::optional<PrinterRecord> findPrinter(std::string_view name);

/// findPrinter, with kPrinterNotInstalled as the failure when there is no such printer.
PrinterRecord requireInstalledPrinter(std::string_view name);

/// The native identifier (cupsd's printer-uuid) of the queue the settings print to; none when
/// that queue does not exist. Throws PrintFailure when no print system answers, rather than
/// calling the printer unknown.
std::optional<std::string> currentPrinterID(const PrintSettings& settings);

/// The UUID of the printer a queue prints to, found and confirmed on the network; none for a
/// queue that does not print to one network printer. Asked for only when needed.
using PrinterBehind = std::function<std::optional<std::string>()>;

/// Throws PrintFailure unless the settings print to the request's printer and, when the request
/// carries an identifier, it names that printer: the queue's own printer-uuid (new whenever
/// cupsd or cups-browsed makes the queue again), or the UUID of the one network printer behind
/// the queue, which `printerBehind` finds and confirms ("urn:uuid:" optional, letters in either
/// case). Without a request identifier the print system is not asked.
void verifyPrinter(const PrintSettings& settings, const PrintRequest& request,
                   const PrinterBehind& printerBehind = {});

}  // namespace vardelle::printing
