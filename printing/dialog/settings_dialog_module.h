#pragma once

// The seam between the helper and its GTK dialog. GTK and the ninety libraries it brings take
// some 20 ms to load, so the dialog lives in its own module (vardelle-dialog.so) that only the
// settings command loads; every other command starts without it.

#include "printing/dialog/settings_dialog.h"

namespace vardelle::printing {

/// The module's entry points; same contracts as requireDisplay and runSettingsDialog.
struct DialogModule {
  void (*requireDisplay)();
  std::optional<DialogChoice> (*runSettingsDialog)(
      const DialogStart& start, std::chrono::milliseconds printerWait,
      const std::function<void(const ShownDialog&)>& onShown);
};

}  // namespace vardelle::printing

/// The one symbol the module exports.
extern "C" const vardelle::printing::DialogModule* vardelle_dialog_module();

/// The module's file name, looked for next to the running executable, then in the installed
/// library folder, then in the build tree.
#define VARDELLE_DIALOG_MODULE_FILE "vardelle-dialog.so"
