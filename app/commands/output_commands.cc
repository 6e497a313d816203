#include "app/commands/output_commands.h"

#include <filesystem>

#include "app/commands/prepared_document.h"
#include "artwork/paper_geometry.h"
#include "artwork/preview.h"
#include "base/files.h"
#include "base/print_failure.h"

namespace vardelle::app {

HelperResult outputCommand(const std::string& mode, const PrintRequest& request) {
  if (mode == "thumbnail" && request.filePath) {
    artwork::prepareThumbnail(*request.filePath, request.colorManagement &&
                                                     request.colorManagement->applicationManaged());
  }
  const PreparedDocument prepared = prepareDocument(mode, request);
  const artwork::Artwork& managed = prepared.managed;
  const printing::NativeSnapshot& snapshot = *prepared.snapshot;
  if (!request.outputPath) throw PrintFailure("A preview output path is required.");
  requireAbsolutePath(*request.outputPath, "Preview");
  const std::string output = resolvedLocation(*request.outputPath);
  const std::string artworkLocation = resolvedLocation(request.filePath.value_or(""));
  const std::string settingsLocation = resolvedLocation(request.snapshotPath);
  if (output == artworkLocation || output == settingsLocation) {
    throw PrintFailure("The preview path must not overwrite the artwork or saved settings.");
  }

  const auto offset = request.offsetMM();
  HelperResult result;
  result.document = prepared.document;
  if (mode == "thumbnail") {
    const std::array<std::uint8_t, 3> sheet =
        prepared.proof ? prepared.proof->paperRgb : std::array<std::uint8_t, 3>{255, 255, 255};
    writeFileAtomically(
        output, artwork::makeThumbnail(managed, snapshot.paper, request.scalePercent, offset.x,
                                       offset.y, sheet));
    // Counted as the pages were proofed, the last of them while it was drawn.
    if (prepared.proof)
      result.document->outOfGamutPercent = prepared.proof->tally->outsidePercent();
  } else {
    // Written as it is made: a preview of a large photograph is never held whole.
    auto sheets =
        artwork::composePreview(managed, snapshot.paper, request.scalePercent, offset.x, offset.y);
    writeFileAtomically(output, [&](const ByteSink& sink) { sheets->write(sink); });
  }

  result.ok = true;
  result.summary = snapshot.summary;
  result.outputPath = request.outputPath;
  return result;
}

HelperResult performSheetThumbnail(const PrintRequest& request) {
  if (request.copies || !request.filePath || !request.outputPath) {
    throw PrintFailure("A source sheet and preview destination are required.");
  }
  requireAbsolutePath(*request.outputPath, "Preview");
  const std::string source = resolvedLocation(*request.filePath);
  const std::string destination = resolvedLocation(*request.outputPath);
  if (destination == source || std::filesystem::path(destination).extension().string() != ".png") {
    throw PrintFailure("Invalid history preview destination.");
  }

  artwork::prepareThumbnail(*request.filePath, false);
  artwork::Artwork sheet = artwork::Artwork::load(*request.filePath, request.pngDpi);
  if (sheet.pages.empty()) throw PrintFailure("The sheet has no pages.");
  const artwork::Size size = sheet.pages.front().naturalSize();
  const artwork::PaperGeometry paper{size.width, size.height, 0, 0, size.width, size.height};
  paper.validate();

  DocumentInfo description;
  description.format = sheet.format;
  description.dpiX = sheet.dpiX;
  description.dpiY = sheet.dpiY;
  description.sourceColorProfile = sheet.sourceColorProfile;
  description.colorManagement = sheet.colorManagement;
  description.pageCount = static_cast<int64_t>(sheet.pages.size());
  for (const artwork::ArtworkPage& page : sheet.pages) {
    PageInfo info;
    info.widthMm = artwork::millimeters(page.naturalSize().width);
    info.heightMm = artwork::millimeters(page.naturalSize().height);
    info.scaledWidthMm = info.widthMm * 100 / 100;
    info.scaledHeightMm = info.heightMm * 100 / 100;
    description.pages.push_back(info);
  }
  description.warnings = sheet.warnings;
  description.warnings.push_back(
      "Save Printer Settings to check paper size and printable margins.");
  description.requiresClipping = false;

  artwork::Artwork firstPage = sheet;
  firstPage.pages.resize(1);
  const std::string bytes = artwork::makeThumbnail(firstPage, paper, 100, 0, 0);
  writeFileAtomically(destination, bytes);

  HelperResult result;
  result.ok = true;
  result.document = std::move(description);
  result.outputPath = request.outputPath;
  return result;
}

}  // namespace vardelle::app
