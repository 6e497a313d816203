#include "artwork/ghostscript_api.h"

#include <dlfcn.h>

#include <string>

#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

template <typename T>
void bind(void* library, const char* name, T& slot, std::string& missing) {
  slot = reinterpret_cast<T>(::dlsym(library, name));
  if (!slot) missing = name;
}

}  // namespace

const GhostscriptApi& ghostscript() {
  static const GhostscriptApi api = [] {
    std::string reason = "it was not found";
    void* library = nullptr;
    // The versioned name is what the runtime package installs; the plain one comes with -dev.
    for (const char* name : {"libgs.so.10", "libgs.so"}) {
      library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (library) break;
      if (const char* message = ::dlerror()) reason = message;
    }
    if (!library) {
      throw PrintFailure(
          "Ghostscript, which renders artwork images, could not be loaded: " + reason + ".");
    }
    GhostscriptApi bound{};
    std::string missing;
    bind(library, "gsapi_new_instance", bound.newInstance, missing);
    bind(library, "gsapi_delete_instance", bound.deleteInstance, missing);
    bind(library, "gsapi_set_stdio_with_handle", bound.setStdioWithHandle, missing);
    bind(library, "gsapi_register_callout", bound.registerCallout, missing);
    bind(library, "gsapi_set_arg_encoding", bound.setArgEncoding, missing);
    bind(library, "gsapi_init_with_args", bound.initWithArgs, missing);
    bind(library, "gsapi_exit", bound.exit, missing);
    if (!missing.empty()) {
      throw PrintFailure(
          "Ghostscript, which renders artwork images, could not be loaded: it has no " + missing +
          ".");
    }
    return bound;
  }();
  return api;
}

}  // namespace vardelle::artwork
