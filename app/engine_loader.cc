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

const Engine& engine(const std::string& mode, const std::optional<std::string>& filePath) {
  if (mode == "settings" || mode == "print") {
    static const Engine* printing = load(VARDELLE_PRINTING_MODULE_FILE);
    return *printing;
  }
  if (mode == "inspect" && filePath && artworkFormatOf(*filePath) == ArtworkFormat::png) {
    static const Engine* pictures = load(VARDELLE_PICTURES_MODULE_FILE);
    return *pictures;
  }
  static const Engine* documents = load(VARDELLE_DOCUMENTS_MODULE_FILE);
  return *documents;
}

}  // namespace vardelle::app
