#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// What the printer-settings dialog starts from: the printer to preselect and, when a saved preset
/// is being edited, the paper, orientation, copies and printer options it held.
struct DialogStart {
  std::string printerName;
  /// The saved paper as a PWG media name (e.g. "iso_a4_210x297mm"); none lets the printer's
  /// default paper stand.
  std::optional<std::string> mediaName;
  /// The saved paper as the queue's PPD names it ("A4", "w288h432J"), with the name the dialog
  /// shows for it and its portrait size in points; preferred to `mediaName`, since it tells
  /// same-size papers apart.
  std::optional<std::string> ppdName;
  std::string ppdDisplayName;
  double ppdWidthPt = 0;
  double ppdHeightPt = 0;
  /// The saved paper's portrait size in millimetres, used when GTK does not know `mediaName`.
  std::optional<double> paperWidthMm;
  std::optional<double> paperHeightMm;
  Orientation orientation = Orientation::portrait;
  int64_t copies = 1;
  bool collate = false;  ///< copies as whole sets
  /// CUPS options shown on the printer's own tabs (colour, quality, ...), name to value.
  std::map<std::string, std::string> options;
};

/// What the user confirmed with "Save Settings".
struct DialogChoice {
  std::string printerName;   ///< the printer selected when the user confirmed
  std::string paperName;     ///< GTK's paper name (a PWG name for the papers GTK knows)
  std::string ppdName;       ///< the PPD's page-size name of the paper; empty when it has none
  std::string displayName;   ///< the paper's name as the dialog showed it
  double paperWidthMm = 0;   ///< portrait width of the chosen paper
  double paperHeightMm = 0;  ///< portrait height of the chosen paper
  Orientation orientation = Orientation::portrait;
  int64_t copies = 1;
  bool collate = false;  ///< the "Collate" box next to the copies
  /// CUPS options from the printer's own tabs, name to value.
  std::map<std::string, std::string> options;
};

/// The open dialog as a test sees it, on the main context right after it is presented.
class ShownDialog {
 public:
  virtual ~ShownDialog() = default;
  /// The label of the dialog's default (confirming) button, found by widget lookup.
  virtual std::string defaultButtonLabel() const = 0;
  /// The labels of every visible button, label and check box, in tree order.
  virtual std::vector<std::string> visibleTexts() const = 0;
  /// Writes a PNG picture of the dialog window; false when it cannot be taken.
  virtual bool savePicture(const std::string& path) const = 0;
  /// Asks the window to close, as a window manager's close button would.
  virtual void close() const = 0;
};

/// The refusal when GTK cannot open a display.
inline constexpr const char* kNoDisplayMessage =
    "Printer Settings cannot be shown because no graphical display is available to the helper.";

/// Initialises GTK on the process's display (once) and sends GTK's and GLib's log output to
/// standard error. Throws PrintFailure(kNoDisplayMessage) when there is no usable display.
void requireDisplay();

/// The most copies the dialog offers, as many as a print request may ask for.
inline constexpr int kMaxDialogCopies = 99;

/// Shows the print dialog for `start.printerName` with the paper, orientation and copies
/// controls (copies 1 to kMaxDialogCopies) and a default button titled "Save Settings", waits up to
/// `printerWait` for the printer to be listed and ready, then runs it on the GLib main context
/// until the user answers. Returns the choice on confirmation and none on Cancel, Escape or closing
/// the window. Throws PrintFailure("The selected printer is no longer installed on this Mac.") when
/// the printer does not appear in time. Call requireDisplay() first.
std::optional<DialogChoice> runSettingsDialog(
    const DialogStart& start, std::chrono::milliseconds printerWait = std::chrono::seconds(15),
    const std::function<void(const ShownDialog&)>& onShown = {});

}  // namespace vardelle::printing
