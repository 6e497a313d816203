#include "app/commands/prepared_document.h"

#include "base/print_failure.h"
#include "printing/settings/print_color_entries.h"

namespace vardelle::app {

void requireArtworkPath(const PrintRequest& request) {
  if (!request.filePath || request.filePath->empty()) {
    throw PrintFailure("Choose a PDF or PNG file first.");
  }
}

PreparedDocument prepareDocument(const std::string& mode, const PrintRequest& request,
                                 ArtworkLoader load) {
  requireArtworkPath(request);
  const bool inspecting = mode == "inspect";
  PreparedDocument prepared;
  prepared.snapshot = printing::loadSnapshot(request, !inspecting);
  if (request.colorManagement && request.colorManagement->applicationManaged() &&
      prepared.snapshot && prepared.snapshot->summary.colorMode == "monochrome") {
    throw PrintFailure(printing::kBlackAndWhiteWithRgbProfile);
  }
  const artwork::Artwork loaded = load(*request.filePath, request.pngDpi);
  // A converted photograph is drawn once (preview, print) or read once to shrink it (thumbnail):
  // converting it while it is drawn keeps it out of memory.
  if (mode == "thumbnail" && request.softProof) {
    prepared.managed = artwork::softProofed(loaded, request.colorSettings(), *request.softProof,
                                            request.scalePercent, prepared.proof.emplace());
  } else {
    // The thumbnail shows the first sheet: the other pages are checked, not drawn.
    prepared.managed = loaded.applyingColorManagement(
        request.colorSettings(), request.scalePercent, !inspecting, /*streamPng=*/true,
        mode == "thumbnail" ? artwork::Artwork::ConvertedPages::firstOnly
                            : artwork::Artwork::ConvertedPages::all);
  }
  std::optional<artwork::PaperGeometry> paper;
  if (prepared.snapshot) paper = prepared.snapshot->paper;
  const auto offset = request.offsetMM();
  prepared.document = prepared.managed.inspect(request.scalePercent, paper, offset.x, offset.y);
  return prepared;
}

}  // namespace vardelle::app
