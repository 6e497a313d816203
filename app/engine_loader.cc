#include "app/engine.h"

#include "base/module_loader.h"

namespace vardelle::app {

const Engine& engine() {
  static const Engine* loaded = [] {
    using Entry = const Engine* (*)();
    auto entry = reinterpret_cast<Entry>(loadHelperModule(
        VARDELLE_ENGINE_MODULE_FILE, "vardelle_engine", VARDELLE_MODULE_INSTALL_DIR,
        VARDELLE_MODULE_BUILD_DIR, "The helper's engine"));
    return entry();
  }();
  return *loaded;
}

}  // namespace vardelle::app
