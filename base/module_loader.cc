#include "base/module_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

#include "base/files.h"
#include "base/print_failure.h"

namespace vardelle {

void* loadHelperModule(const std::string& fileName, const char* symbol,
                       const std::string& installDir, const std::string& buildDir,
                       const std::string& failurePrefix) {
  std::vector<std::string> candidates;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    candidates.push_back((self.parent_path() / fileName).string());
    // An installed tree moved to another prefix keeps bin/ and lib/ side by side.
    candidates.push_back((self.parent_path() / VARDELLE_MODULE_RELATIVE_DIR / fileName).string());
  }
  candidates.push_back(installDir + "/" + fileName);
  candidates.push_back(buildDir + "/" + fileName);

  std::string reason = "it was not found";
  for (const std::string& path : candidates) {
    if (!std::filesystem::exists(path, error)) continue;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* message = ::dlerror();
      reason = message ? message : "it could not be loaded";
      continue;
    }
    if (void* entry = ::dlsym(handle, symbol)) {
      // Before anything in the module runs: its own copy of the atomic writes' state is not the
      // one the finishing routine stops.
      shareFileWriteState(handle);
      return entry;
    }
    reason = path + " is not the helper's " + fileName;
  }
  throw PrintFailure(failurePrefix + " (" + fileName + ") could not be loaded: " + reason + ".");
}

RuntimeLibrary::RuntimeLibrary(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    handle_ = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle_) return;
    if (const char* message = ::dlerror()) reason_ = message;
  }
}

void* RuntimeLibrary::symbol(const char* name) {
  void* address = handle_ ? ::dlsym(handle_, name) : nullptr;
  if (!address) missing_ = name;
  return address;
}

}  // namespace vardelle
