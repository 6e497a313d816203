#include "printing/settings/restore.h"

#include "base/print_failure.h"

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

}  // namespace vardelle::printing
