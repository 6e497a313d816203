#include "testing/print_snapshot.h"

#include <stdexcept>

#include "printing/cups/paper_measurement.h"
#include "printing/cups/printers.h"
#include "printing/settings/print_summary.h"
#include "printing/settings/restore.h"

namespace vardelle::testing {

printing::NativeSnapshot savedSnapshot(const printing::PrintSettings& settings,
                                       bool withIdentifier) {
  const printing::MeasuredPaper measured = printing::measurePaper(settings);
  printing::NativeSnapshot snapshot;
  snapshot.printerName = settings.printerName();
  if (withIdentifier) snapshot.printerId = printing::currentPrinterID(settings);
  snapshot.archive = settings.archive();
  snapshot.paper = measured.geometry;
  snapshot.summary =
      printing::printSummary(settings, measured.geometry.size(), measured.localizedName);
  return snapshot;
}

printing::PrintSettings paperSettings(const std::string& queue, const std::string& media,
                                      printing::Orientation orientation) {
  printing::PrintSettings settings(queue);
  if (!settings.setOption(printing::PrintSettings::kMedia, media)) {
    throw std::invalid_argument("media name refused: " + media);
  }
  settings.setOrientation(orientation);
  return settings;
}

}  // namespace vardelle::testing
