// PDF artwork measured without qpdf, for inspect: the same checks, sentences and measurements as
// Artwork::loadPdf on every file the plain reader reads, and no answer on the others.
#include "artwork/artwork.h"
#include "artwork/pdf_page_entries.h"
#include "artwork/plain_pdf_reader.h"
#include "base/diagnostics.h"

namespace vardelle::artwork {

std::optional<Artwork> Artwork::loadPlainPdf(const std::string& path, bool* layered) {
  requireReadableArtwork(path);
  std::optional<PlainPdfPages> read = readPlainPdfPages(path);
  if (!read) return std::nullopt;
  if (read->layered && !layered) {
    debugNote("plain PDF reader: declined: layers, which qpdf names");
    return std::nullopt;
  }
  if (layered) *layered = read->layered;
  std::vector<ArtworkPage> pages;
  pages.reserve(read->pages.size());
  for (size_t i = 0; i < read->pages.size(); ++i) {
    pages.push_back(measuredPdfPage(read->pages[i], i));
  }
  return pdfArtwork(std::move(pages));
}

}  // namespace vardelle::artwork
