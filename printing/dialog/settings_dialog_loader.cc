// requireDisplay and runSettingsDialog, served by the dialog module loaded on first use.
#include "base/module_loader.h"
#include "printing/dialog/settings_dialog_module.h"

namespace vardelle::printing {

namespace {

const DialogModule& module() {
  // Loaded once and never unloaded: GTK cannot be taken out of a process again.
  static const DialogModule* loaded = [] {
    using Entry = const DialogModule* (*)();
    auto entry = reinterpret_cast<Entry>(
        loadHelperModule(VARDELLE_DIALOG_MODULE_FILE, "vardelle_dialog_module",
                         VARDELLE_DIALOG_INSTALL_DIR, VARDELLE_DIALOG_BUILD_DIR,
                         "Printer Settings cannot be shown because the helper's dialog component"));
    return entry();
  }();
  return *loaded;
}

}  // namespace

void requireDisplay() { module().requireDisplay(); }

std::optional<DialogChoice> runSettingsDialog(
    const DialogStart& start, std::chrono::milliseconds printerWait,
    const std::function<void(const ShownDialog&)>& onShown) {
  return module().runSettingsDialog(start, printerWait, onShown);
}

}  // namespace vardelle::printing
