#include "printing/preset/saved_settings.h"

#include "base/files.h"
#include "base/print_failure.h"
#include "base/text.h"
#include "printing/cups/media_for_size.h"
#include "printing/cups/paper_measurement.h"
#include "printing/cups/printer_facts.h"
#include "printing/cups/printers.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/temporary_queue.h"
#include "printing/dialog/settings_dialog.h"
#include "printing/job/copies.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/print_summary.h"
#include "printing/settings/restore.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {
namespace {

// The paper, orientation, copies and their collation travel through the dialog's own controls;
// as options they would only contradict those controls (and a PPD page size would contradict
// "media").
bool choiceKept(const std::string& name) {
  for (std::string_view controlled :
       {PrintSettings::kMedia, PrintSettings::kOrientation, PrintSettings::kCopies,
        std::string_view("Collate"), std::string_view("PageSize"),
        std::string_view("PageRegion")}) {
    if (equalsIgnoringAsciiCase(name, controlled)) return false;
  }
  return true;
}

DialogStart dialogStart(const PrintSettings& settings) {
  DialogStart start;
  start.printerName = settings.printerName();
  start.mediaName = settings.media();
  if (auto entry = settings.pageSize()) {
    try {
      if (auto ppd = QueuePpd::forQueue(settings.printerName())) {
        if (auto size = ppd->pageSize(*entry)) {
          start.ppdName = size->name;
          start.ppdDisplayName = size->text;
          start.ppdWidthPt = size->widthPt;
          start.ppdHeightPt = size->lengthPt;
        }
      }
    } catch (const PrintFailure&) {
      // The dialog then starts from the PWG name; saving measures the paper again anyway.
    }
  }
  if (start.mediaName) {
    if (auto size = namedMediaSize(*start.mediaName)) {
      start.paperWidthMm = size->widthHundredths / 100.0;
      start.paperHeightMm = size->lengthHundredths / 100.0;
    }
  }
  start.orientation = settings.orientation().value_or(Orientation::portrait);
  start.copies = settings.copies().value_or(1);
  start.collate = savedCollation(settings);
  for (const PrintOption& option : settings.options()) {
    if (choiceKept(option.name)) start.options.emplace(option.name, option.value);
  }
  return start;
}

// The user's choice written into the settings. The dialog's own copy of the paper, orientation
// and copies options would be stale, so those come from the choice itself. On a queue with a
// PPD the paper is the PPD entry the user picked, by its own name; "media" follows from its
// measurement. Without one it is the queue's media of the chosen size.
void applyChoice(PrintSettings& settings, const DialogChoice& choice) {
  for (const auto& [name, value] : choice.options) {
    if (!choiceKept(name)) continue;
    if (!settings.setOption(name, value)) throw PrintFailure(kLayoutNotConfigured);
  }
  settings.removeOption(PrintSettings::kPageSize);
  settings.removeOption(PrintSettings::kMedia);
  std::optional<std::string> entry =
      queueEntryForPaper(settings.printerName(), choice.ppdName, choice.paperWidthMm,
                         choice.paperHeightMm, choice.displayName);
  const bool kept =
      entry ? settings.setOption(PrintSettings::kPageSize, *entry)
            : settings.setOption(
                  PrintSettings::kMedia,
                  mediaForSize(settings.printerName(), choice.paperWidthMm, choice.paperHeightMm));
  // GTK keeps the Collate box apart from the printer's options.
  if (!kept || !settings.setOption(PrintSettings::kCopies, std::to_string(choice.copies)) ||
      !saveCollation(settings, choice.collate)) {
    throw PrintFailure(kLayoutNotConfigured);
  }
  settings.setOrientation(choice.orientation);
}

}  // namespace

HelperResult saveSettingsThroughDialog(const PrintRequest& request,
                                       std::chrono::milliseconds printerWait) {
  requireQueue(request.printerName);
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
  verifyPrinter(chosen, request, printerBehind(chosen.printerName()));

  std::optional<DialogChoice> choice = runSettingsDialog(dialogStart(chosen), printerWait);
  if (!choice) {
    HelperResult cancelled;
    cancelled.ok = true;
    cancelled.cancelled = true;
    return cancelled;
  }
  chosen.setPrinterName(choice->printerName);
  // A temporary queue CUPS made for a printer it only discovered goes a minute after its last
  // use: it is made again (from the same printer) if the dialog stayed open that long.
  requireQueue(request.printerName);
  verifyPrinter(chosen, request, printerBehind(chosen.printerName()));
  applyChoice(chosen, *choice);
  configureDeterministicLayout(chosen);

  MeasuredPaper paper = measurePaper(chosen);
  paper.geometry.validate();
  // A driver that cannot keep the size would make every print of this preset wrong.
  if (chosen.pageSize()) {
    if (std::optional<QueuePpd> ppd = QueuePpd::forQueue(chosen.printerName())) {
      requireExactSizeChoices(*ppd);
    }
  }
  // A driver queue's job names its entry by PageSize; "media" says the same sheet to whatever
  // reads only IPP.
  if (chosen.pageSize() && !chosen.setOption(PrintSettings::kMedia, paper.mediaName)) {
    throw PrintFailure(kLayoutNotConfigured);
  }
  // The paper by the name the user chose it by, not a keyword of the PPD (the queue CUPS makes
  // for a driverless printer names its sizes by keyword alone, "A4.Borderless").
  if (chosen.pageSize() && !choice->displayName.empty() && choice->displayName != choice->ppdName) {
    paper.localizedName = paperNameFor(paper, choice->displayName);
  }
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
