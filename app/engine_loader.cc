#include "app/engine.h"

#include "base/artwork_format.h"
#include "base/module_loader.h"

namespace vardelle::app {

namespace {

const Engine* load(const char* fileName) {
  using Entry = const Engine* (*)();
  auto entry = reinterpret_cast<Entry>(
      loadHelperModule(fileName, "vardelle_engine", VARDELLE_MODULE_INSTALL_DIR,
                       VARDELLE_MODULE_BUILD_DIR, "The helper's engine"));
  return entry();
}

}  // namespace

const Engine& engine(const std::string& mode) {
  if (mode == "settings" || mode == "print") {
    static const Engine* printing = load(VARDELLE_PRINTING_MODULE_FILE);
    return *printing;
  }
  static const Engine* documents = load(VARDELLE_DOCUMENTS_MODULE_FILE);
  return *documents;
}

HelperResult performCommand(const std::string& mode, const PrintRequest& request) {
  if (mode == "inspect" && request.filePath &&
      artworkFormatOf(*request.filePath) != ArtworkFormat::unsupported) {
    static const Engine* inspection = load(VARDELLE_INSPECTION_MODULE_FILE);
    if (std::optional<HelperResult> result = inspection->inspectWithoutQpdf(request)) {
      return std::move(*result);
    }
  }
  return engine(mode).perform(mode, request);
}

}  // namespace vardelle::app
