// requireDisplay and runSettingsDialog, served by the dialog module loaded on first use.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/print_failure.h"
#include "printing/settings_dialog_module.h"

namespace vardelle::printing {

namespace {

std::vector<std::string> moduleCandidates() {
  std::vector<std::string> candidates;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) candidates.push_back((self.parent_path() / VARDELLE_DIALOG_MODULE_FILE).string());
  candidates.push_back(std::string(VARDELLE_DIALOG_INSTALL_DIR "/") + VARDELLE_DIALOG_MODULE_FILE);
  candidates.push_back(std::string(VARDELLE_DIALOG_BUILD_DIR "/") + VARDELLE_DIALOG_MODULE_FILE);
  return candidates;
}

const DialogModule& module() {
  // Loaded once and never unloaded: GTK cannot be taken out of a process again.
  static const DialogModule* loaded = [] {
    std::string reason = "it was not found";
    for (const std::string& path : moduleCandidates()) {
      if (!std::filesystem::exists(path)) continue;
      void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        const char* message = ::dlerror();
        reason = message ? message : "it could not be loaded";
        continue;
      }
      using Entry = const DialogModule* (*)();
      if (auto entry = reinterpret_cast<Entry>(::dlsym(handle, "vardelle_dialog_module"))) {
        return entry();
      }
      reason = path + " is not the helper's dialog module";
    }
    throw PrintFailure("Printer Settings cannot be shown because the helper's dialog component (" +
                       std::string(VARDELLE_DIALOG_MODULE_FILE) +
                       ") could not be loaded: " + reason + ".");
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
