#pragma once

#include <initializer_list>
#include <string>

namespace vardelle {

/// Loads one of the helper's own modules (a shared object built beside the executable) and returns
/// the address of its entry symbol. The file is looked for next to the running executable, then
/// in the library folder of the executable's installed tree, then in `installDir`, then in
/// `buildDir`. Modules are never unloaded. Throws PrintFailure starting
/// with `failurePrefix` and naming the reason when no candidate loads.
void* loadHelperModule(const std::string& fileName, const char* symbol,
                       const std::string& installDir, const std::string& buildDir,
                       const std::string& failurePrefix);

/// A system library bound at run time by the few commands that use it, so that the others never
/// pay for loading it (Ghostscript, libtiff, GLib, libcrypto). Opened for the life of the
/// process; its functions are bound into typed slots.
class RuntimeLibrary {
 public:
  /// Opens the first of `names` that loads. When none does, loaded() is false and reason() says
  /// why (the loader's own message, or "it was not found").
  explicit RuntimeLibrary(std::initializer_list<const char*> names);

  bool loaded() const { return handle_ != nullptr; }
  const std::string& reason() const { return reason_; }

  /// Binds the function `name` into `slot`; a name the library lacks leaves `slot` null and is
  /// kept in missing() (the last one that was).
  template <typename Function>
  void bind(const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(symbol(name));
  }
  const std::string& missing() const { return missing_; }

 private:
  void* symbol(const char* name);

  void* handle_ = nullptr;
  std::string reason_ = "it was not found";
  std::string missing_;
};

}  // namespace vardelle
