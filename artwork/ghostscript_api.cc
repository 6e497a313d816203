#include "artwork/ghostscript_api.h"

#include <string>

#include "base/module_loader.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

const GhostscriptApi& ghostscript() {
  static const GhostscriptApi api = [] {
    // The versioned name is what the runtime package installs; the plain one comes with -dev.
    RuntimeLibrary library({"libgs.so.10", "libgs.so"});
    if (!library.loaded()) {
      throw PrintFailure("Ghostscript, which renders artwork images, could not be loaded: " +
                         library.reason() + ".");
    }
    GhostscriptApi bound{};
    library.bind("gsapi_new_instance", bound.newInstance);
    library.bind("gsapi_delete_instance", bound.deleteInstance);
    library.bind("gsapi_set_stdio_with_handle", bound.setStdioWithHandle);
    library.bind("gsapi_register_callout", bound.registerCallout);
    library.bind("gsapi_set_arg_encoding", bound.setArgEncoding);
    library.bind("gsapi_init_with_args", bound.initWithArgs);
    library.bind("gsapi_exit", bound.exit);
    const std::string& missing = library.missing();
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
