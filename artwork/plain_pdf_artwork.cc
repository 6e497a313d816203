// PDF artwork measured without qpdf, for inspect: the same checks, sentences and measurements as
// Artwork::loadPdf on every file the plain reader reads, and no answer on the others.
#include "artwork/artwork.h"
#include "artwork/pdf_page_entries.h"
#include "artwork/plain_pdf_reader.h"

namespace vardelle::artwork {

std::optional<Artwork> Artwork::loadPlainPdf(const std::string& path) {
  requireReadableArtwork(path);
  std::optional<std::vector<PdfPageEntries>> entries = readPlainPdfPages(path);
  if (!entries) return std::nullopt;
  std::vector<ArtworkPage> pages;
  pages.reserve(entries->size());
  for (size_t i = 0; i < entries->size(); ++i) pages.push_back(measuredPdfPage((*entries)[i], i));
  return pdfArtwork(std::move(pages));
}

}  // namespace vardelle::artwork
