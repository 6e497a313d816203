// The documents module (vardelle-documents.so): the commands that read and draw artwork and
// profiles. It links no print system, so inspect, preview and the thumbnails start without
// libcups, GSS-API and libgutenprint.
#include <stdexcept>

#include "app/commands/inspect_command.h"
#include "app/commands/output_commands.h"
#include "app/commands/profile_commands.h"
#include "app/engine.h"
#include "app/routing.h"
#include "base/artwork_format.h"

namespace vardelle::app {

namespace {

// A file the inspection module left here is measured as plainly as it can be: a PDF with layers
// has its pages read without qpdf, which reads its catalog to name them.
artwork::Artwork loadToMeasure(const std::string& path, std::optional<double> pngDpi) {
  if (artworkFormatOf(path) == ArtworkFormat::pdf) return artwork::Artwork::loadPdfToMeasure(path);
  return artwork::Artwork::load(path, pngDpi);
}

HelperResult performDocumentCommand(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") return performSheetThumbnail(request);
  checkRouting(mode, request);
  if (mode == "preview" || mode == "thumbnail") return outputCommand(mode, request);
  if (mode == "inspect") return inspectCommand(request, &loadToMeasure);
  throw std::logic_error("The documents module does not serve " + mode + ".");
}

}  // namespace

}  // namespace vardelle::app

extern "C" __attribute__((visibility("default"))) const vardelle::app::Engine* vardelle_engine() {
  static const vardelle::app::Engine engine{
      &vardelle::app::performDocumentCommand,
      &vardelle::app::profilePaths,
      &vardelle::app::inspectProfile,
  };
  return &engine;
}
