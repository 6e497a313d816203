#include "app/dispatcher.h"

#include "app/output_commands.h"
#include "app/routing.h"
#include "artwork/artwork.h"
#include "base/print_failure.h"
#include "printing/print_color_entries.h"
#include "printing/settings_command.h"
#include "printing/snapshot.h"
#include "printing/submission.h"

namespace vardelle::app {

namespace {

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
    throw PrintFailure(printing::kBlackAndWhiteWithRgbProfile);
  }
  const artwork::Artwork loaded = artwork::Artwork::load(*request.filePath, request.pngDpi);
  // A converted photograph is drawn once (preview, print) or read once to shrink it (thumbnail):
  // converting it while it is drawn keeps it out of memory.
  prepared.managed = loaded.applyingColorManagement(request.colorSettings(), request.scalePercent,
                                                    !inspecting, /*streamPng=*/true);
  std::optional<artwork::PaperGeometry> paper;
  if (prepared.snapshot) paper = prepared.snapshot->paper;
  const auto offset = request.offsetMM();
  prepared.document = prepared.managed.inspect(request.scalePercent, paper, offset.x, offset.y);
  return prepared;
}

}  // namespace

HelperResult perform(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") return performSheetThumbnail(request);
  checkRouting(mode, request);
  if (mode == "settings") return printing::settings(request);
  if (mode == "print" && (!request.filePath || request.filePath->empty())) {
    throw PrintFailure("Choose a PDF or PNG file first.");
  }
  // Said before the snapshot is read, so that a preset never saved still hears about it.
  if (mode == "print" && request.colorManagement &&
      request.colorManagement->mode == "application" &&
      !request.colorManagement->driverColorManagementDisabled) {
    throw PrintFailure(
        "Disable printer-driver color correction in this preset's Printer settings, then "
        "acknowledge it before application-managed printing.");
  }
  PreparedDocument prepared = prepareDocument(mode, request);
  if (mode == "print") {
    return printing::submit(prepared.managed, request, *prepared.snapshot, prepared.document);
  }
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
