// PDF artwork: the pages and their boxes as qpdf reads them. Only this loader and the code that
// draws PDF pages need qpdf, so a PNG can be inspected without loading it.
#include <cmath>

#include "artwork/artwork.h"
#include "artwork/pdf_conversion.h"
#include "artwork/pdf_document.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

// A PDF rectangle array [llx lly urx ury] as a standardised rectangle; none when it is not four
// finite numbers.
std::optional<Rect> rectangleOf(QPDFObjectHandle box) {
  if (!box.isArray() || box.getArrayNItems() != 4) return std::nullopt;
  double v[4];
  for (int i = 0; i < 4; ++i) {
    QPDFObjectHandle item = box.getArrayItem(i);
    if (!item.isNumber()) return std::nullopt;
    v[i] = item.getNumericValue();
    if (!std::isfinite(v[i])) return std::nullopt;
  }
  return Rect{v[0], v[1], v[2] - v[0], v[3] - v[1]}.standardized();
}

// An inheritable page attribute: the page's own entry or the nearest one up the /Parent chain.
// The chain is followed for a bounded number of steps so that a cycle cannot hold us.
QPDFObjectHandle inherited(QPDFObjectHandle page, const char* key) {
  QPDFObjectHandle node = page;
  for (int depth = 0; depth < 256 && node.isDictionary(); ++depth) {
    if (node.hasKey(key)) {
      QPDFObjectHandle value = node.getKey(key);
      if (!value.isNull()) return value;
    }
    node = node.getKey("/Parent");
  }
  return QPDFObjectHandle::newNull();
}

ArtworkPage measuredPage(const std::shared_ptr<PdfDocument>& document, size_t index) {
  const std::string prefix = "PDF page " + std::to_string(index + 1);
  QPDFObjectHandle object = document->pageObject(index);
  if (!object.isDictionary()) throw PrintFailure(prefix + " could not be read.");

  PdfPage page;
  page.document = document;
  page.index = index;
  std::optional<Rect> media = rectangleOf(inherited(object, "/MediaBox"));
  // A missing or malformed crop box shows the media box.
  std::optional<Rect> crop = rectangleOf(inherited(object, "/CropBox"));
  if (!crop) crop = media;
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
  QPDFObjectHandle rotate = inherited(object, "/Rotate");
  if (rotate.isInteger()) {
    angle = rotate.getIntValue();
  } else if (rotate.isReal()) {
    const double value = rotate.getNumericValue();
    if (!std::isfinite(value) || value != std::trunc(value) || std::fabs(value) > 1e15) {
      throw PrintFailure(prefix + " has unsupported rotation.");
    }
    angle = static_cast<long long>(value);
  }
  long long r = angle % 360;
  if (r < 0) r += 360;
  if (r % 90 != 0) throw PrintFailure(prefix + " has unsupported rotation.");
  page.rotation = int(r);

  QPDFObjectHandle unit = object.getKey("/UserUnit");
  if (unit.isNumber()) page.userUnit = unit.getNumericValue();
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

}  // namespace

Artwork Artwork::loadPdf(const std::string& path) {
  requireReadableArtwork(path);
  std::shared_ptr<PdfDocument> document = PdfDocument::open(path);
  if (document->pageCount() < 1) throw PrintFailure("This PDF has no pages.");
  Artwork artwork;
  artwork.format = "PDF";
  artwork.pages.reserve(document->pageCount());
  for (size_t i = 0; i < document->pageCount(); ++i) {
    try {
      artwork.pages.push_back(measuredPage(document, i));
    } catch (const PrintFailure&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      // qpdf resolves objects lazily: a damaged object surfaces while its page is read.
      debugNote(std::string("qpdf: ") + e.what());
      throw PrintFailure("PDF page " + std::to_string(i + 1) + " could not be read.");
    }
  }
  artwork.warnings = {kPrinterColorWarning};
  artwork.pdfDocument = std::move(document);
  artwork.pdfPageConverter = &convertPdfPage;
  artwork.sourceColorProfile = kPdfSourceColorProfile;
  artwork.colorManagement = kPrinterManaged;
  return artwork;
}

}  // namespace vardelle::artwork
