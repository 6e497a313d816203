#include "printing/restore.h"

#include "base/print_failure.h"
#include "printing/printers.h"

namespace vardelle::printing {

PrintSettings restorePrintInfo(const NativeSnapshot& snapshot) {
  auto settings = PrintSettings::restore(snapshot.archive);
  if (!settings) {
    throw PrintFailure(
        "The saved native printer settings could not be restored. Save Printer Settings again.");
  }
  if (settings->printerName() != snapshot.printerName) {
    throw PrintFailure("The saved printer settings are invalid or refer to a different printer.");
  }
  return std::move(*settings);
}

std::optional<std::string> currentPrinterID(const PrintSettings& settings) {
  auto printer = findPrinter(settings.printerName());
  if (!printer || printer->identifier.empty()) return std::nullopt;
  return printer->identifier;
}

void verifyPrinter(const PrintSettings& settings, const PrintRequest& request) {
  if (settings.printerName() != request.printerName) {
    throw PrintFailure(
        "The printer changed inside Printer Settings. Select that printer in the app and save its "
        "own preset instead.");
  }
  if (!request.printerId) return;
  if (currentPrinterID(settings) != request.printerId) {
    throw PrintFailure(
        "The native printer identity does not match this preset. Refresh the printer list and "
        "save Printer Settings again.");
  }
}

}  // namespace vardelle::printing
