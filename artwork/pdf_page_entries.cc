#include "artwork/pdf_page_entries.h"

#include <cmath>
#include <string>

#include "base/print_failure.h"

namespace vardelle::artwork {

std::optional<Rect> pdfRectangle(const double (&v)[4]) {
  for (double corner : v) {
    if (!std::isfinite(corner)) return std::nullopt;
  }
  return Rect{v[0], v[1], v[2] - v[0], v[3] - v[1]}.standardized();
}

ArtworkPage measuredPdfPage(const PdfPageEntries& entries, size_t index) {
  const std::string prefix = "PDF page " + std::to_string(index + 1);
  PdfPage page;
  page.index = index;
  const std::optional<Rect>& media = entries.mediaBox;
  // A missing or malformed crop box shows the media box.
  const std::optional<Rect> crop = entries.cropBox ? entries.cropBox : media;
  Rect bounds = Rect::null();
  if (media && crop) bounds = crop->intersection(*media);
  if (bounds.isNull() || !finitePositive({bounds.width, bounds.height}) ||
      !std::isfinite(bounds.x) || !std::isfinite(bounds.y)) {
    throw PrintFailure(prefix + " has invalid page bounds.");
  }
  page.mediaBox = *media;
  page.cropBox = *crop;
  page.visibleBox = bounds;

  // Normalised here: qpdf's own helpers mishandle negative angles.
  long long angle = 0;
  if (entries.rotate.kind == PdfRotateEntry::Kind::integer) {
    angle = entries.rotate.integer;
  } else if (entries.rotate.kind == PdfRotateEntry::Kind::real) {
    const double value = entries.rotate.real;
    if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) > 1e15) {
      throw PrintFailure(prefix + " has unsupported rotation.");
    }
    angle = static_cast<long long>(value);
  }
  long long r = angle % 360;
  if (r < 0) r += 360;
  if (r % 90 != 0) throw PrintFailure(prefix + " has unsupported rotation.");
  page.rotation = int(r);

  if (entries.userUnit) page.userUnit = *entries.userUnit;
  if (!std::isfinite(page.userUnit) || !(page.userUnit > 0)) {
    throw PrintFailure(prefix + " has invalid physical units.");
  }

  Size size;
  if (r == 90 || r == 270) {
    size = {bounds.height * page.userUnit, bounds.width * page.userUnit};
  } else {
    size = {bounds.width * page.userUnit, bounds.height * page.userUnit};
  }
  if (!finitePositive(size)) throw PrintFailure(prefix + " has invalid dimensions.");
  return {std::move(page), size};
}

Artwork pdfArtwork(std::vector<ArtworkPage> pages) {
  if (pages.empty()) throw PrintFailure("This PDF has no pages.");
  Artwork artwork;
  artwork.format = "PDF";
  artwork.pages = std::move(pages);
  artwork.warnings = {kPrinterColorWarning};
  artwork.sourceColorProfile = kPdfSourceColorProfile;
  artwork.colorManagement = kPrinterManaged;
  return artwork;
}

}  // namespace vardelle::artwork
