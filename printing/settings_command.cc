#include "printing/settings_command.h"

#include <algorithm>
#include <cctype>

#include "base/files.h"
#include "base/print_failure.h"
#include "printing/cups_paper.h"
#include "printing/media_for_size.h"
#include "printing/print_settings.h"
#include "printing/print_summary.h"
#include "printing/printers.h"
#include "printing/restore.h"
#include "printing/settings_dialog.h"
#include "printing/snapshot.h"

namespace vardelle::printing {

namespace {

// The paper, orientation and copies travel through the dialog's own controls; as options they
// would only contradict those controls (and a PPD page size would contradict "media").
bool choiceKept(const std::string& name) {
  for (std::string_view controlled :
       {PrintSettings::kMedia, PrintSettings::kOrientation, PrintSettings::kCopies,
        std::string_view("PageSize"), std::string_view("PageRegion")}) {
    if (name.size() == controlled.size() &&
        std::equal(name.begin(), name.end(), controlled.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return false;
    }
  }
  return true;
}

DialogStart dialogStart(const PrintSettings& settings) {
  DialogStart start;
  start.printerName = settings.printerName();
  start.mediaName = settings.media();
  if (start.mediaName) {
    if (auto size = namedMediaSize(*start.mediaName)) {
      start.paperWidthMm = size->widthHundredths / 100.0;
      start.paperHeightMm = size->lengthHundredths / 100.0;
    }
  }
  start.orientation = settings.orientation().value_or(Orientation::portrait);
  start.copies = settings.copies().value_or(1);
  for (const PrintOption& option : settings.options()) {
    if (choiceKept(option.name)) start.options.emplace(option.name, option.value);
  }
  return start;
}

// The user's choice written into the settings. The dialog's own copy of the paper, orientation
// and copies options would be stale, so those come from the choice itself.
void applyChoice(PrintSettings& settings, const DialogChoice& choice) {
  for (const auto& [name, value] : choice.options) {
    if (!choiceKept(name)) continue;
    if (!settings.setOption(name, value)) throw PrintFailure(kLayoutNotConfigured);
  }
  if (!settings.setOption(
          PrintSettings::kMedia,
          mediaForSize(settings.printerName(), choice.paperWidthMm, choice.paperHeightMm)) ||
      !settings.setOption(PrintSettings::kCopies, std::to_string(choice.copies))) {
    throw PrintFailure(kLayoutNotConfigured);
  }
  settings.setOrientation(choice.orientation);
}

}  // namespace

HelperResult settings(const PrintRequest& request, std::chrono::milliseconds printerWait) {
  requireInstalledPrinter(request.printerName);
  // Checked before the snapshot is read, so that a helper without a display reports only that.
  requireDisplay();

  std::optional<PrintSettings> start;
  if (std::optional<NativeSnapshot> saved = snapshotForSettings(request)) {
    try {
      start = restorePrintInfo(*saved);
    } catch (const PrintFailure&) {
      // Settings that cannot be restored are replaced by fresh ones, as an unreadable file is.
    }
  }
  PrintSettings chosen = start ? std::move(*start) : PrintSettings(request.printerName);
  verifyPrinter(chosen, request);

  std::optional<DialogChoice> choice = runSettingsDialog(dialogStart(chosen), printerWait);
  if (!choice) {
    HelperResult cancelled;
    cancelled.ok = true;
    cancelled.cancelled = true;
    return cancelled;
  }
  chosen.setPrinterName(choice->printerName);
  verifyPrinter(chosen, request);
  applyChoice(chosen, *choice);
  configureDeterministicLayout(chosen);

  MeasuredPaper paper = measurePaper(chosen);
  paper.geometry.validate();
  PrintSummary summary = printSummary(chosen, paper.geometry.size(), paper.localizedName);

  NativeSnapshot snapshot;
  snapshot.version = 1;
  snapshot.printerId = request.printerId;
  snapshot.printerName = request.printerName;
  snapshot.archive = chosen.archive();
  snapshot.paper = paper.geometry;
  snapshot.summary = summary;
  writeFileAtomically(request.snapshotPath, snapshot.toFileBytes());

  HelperResult saved;
  saved.ok = true;
  saved.cancelled = false;
  saved.summary = std::move(summary);
  return saved;
}

}  // namespace vardelle::printing
