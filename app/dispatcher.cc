#include "app/dispatcher.h"

#include "app/output_commands.h"
#include "artwork/artwork.h"
#include "base/print_failure.h"
#include "printing/snapshot.h"

namespace vardelle::app {

namespace {

[[noreturn]] void notAvailable(const std::string& mode) {
  throw PrintFailure("The " + mode + " command is not available in this version of vardelle.");
}

// What every artwork command prepares before it inspects, renders or prints.
struct PreparedDocument {
  std::optional<printing::NativeSnapshot> snapshot;
  artwork::Artwork managed;
  DocumentInfo document;
};

PreparedDocument prepareDocument(const std::string& mode, const PrintRequest& request) {
  if (!request.filePath || request.filePath->empty()) {
    throw PrintFailure("Choose a PDF or PNG file first.");
  }
  const bool inspecting = mode == "inspect";
  PreparedDocument prepared;
  prepared.snapshot = printing::loadSnapshot(request, !inspecting);
  if (request.colorManagement && request.colorManagement->mode == "application" &&
      prepared.snapshot && prepared.snapshot->summary.colorMode == "monochrome") {
    throw PrintFailure(
        "This preset is set to black and white. Choose Color in Printer settings before using an "
        "RGB printer profile.");
  }
  const artwork::Artwork loaded = artwork::Artwork::load(*request.filePath, request.pngDpi);
  prepared.managed =
      loaded.applyingColorManagement(request.colorSettings(), request.scalePercent, !inspecting);
  std::optional<artwork::PaperGeometry> paper;
  if (prepared.snapshot) paper = prepared.snapshot->paper;
  const auto offset = request.offsetMM();
  prepared.document = prepared.managed.inspect(request.scalePercent, paper, offset.x, offset.y);
  return prepared;
}

}  // namespace

HelperResult perform(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") return performSheetThumbnail(request);
  request.validate();
  if (mode != "print" && request.copies) {
    throw PrintFailure(
        "A copies override can only be used when printing; saved preset copies remain unchanged.");
  }
  if (mode == "settings") notAvailable(mode);
  if (mode != "inspect" && mode != "preview" && mode != "thumbnail" && mode != "print") {
    throw PrintFailure(
        "Unknown helper command. Expected settings, inspect, preview, thumbnail, or print.");
  }
  // The driver-colour acknowledgment of `print` belongs before the snapshot is read; it arrives
  // with the print command.
  if (mode == "print") notAvailable(mode);
  PreparedDocument prepared = prepareDocument(mode, request);
  if (mode == "preview" || mode == "thumbnail") {
    return writePreviewOutput(mode, request, prepared.managed, *prepared.snapshot,
                              prepared.document);
  }
  HelperResult result;
  result.ok = true;
  if (prepared.snapshot) result.summary = prepared.snapshot->summary;
  result.document = std::move(prepared.document);
  return result;
}

}  // namespace vardelle::app
