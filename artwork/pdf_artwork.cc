// PDF artwork: the pages and their boxes as qpdf reads them. Only this loader and the code that
// draws PDF pages need qpdf, so a PNG can be inspected without loading it.
#include "artwork/artwork.h"
#include "artwork/optional_content.h"
#include "artwork/pdf_conversion.h"
#include "artwork/pdf_document.h"
#include "artwork/pdf_page_entries.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

// A PDF rectangle array [llx lly urx ury]; none when it is not four finite numbers.
std::optional<Rect> rectangleOf(QPDFObjectHandle box) {
  if (!box.isArray() || box.getArrayNItems() != 4) return std::nullopt;
  double v[4];
  for (int i = 0; i < 4; ++i) {
    QPDFObjectHandle item = box.getArrayItem(i);
    if (!item.isNumber()) return std::nullopt;
    v[i] = item.getNumericValue();
  }
  return pdfRectangle(v);
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
  QPDFObjectHandle object = document->pageObject(index);
  if (!object.isDictionary()) {
    throw PrintFailure("PDF page " + std::to_string(index + 1) + " could not be read.");
  }
  PdfPageEntries entries;
  entries.mediaBox = rectangleOf(inherited(object, "/MediaBox"));
  entries.cropBox = rectangleOf(inherited(object, "/CropBox"));
  QPDFObjectHandle rotate = inherited(object, "/Rotate");
  if (rotate.isInteger()) {
    entries.rotate = {PdfRotateEntry::Kind::integer, rotate.getIntValue(), 0};
  } else if (rotate.isReal()) {
    entries.rotate = {PdfRotateEntry::Kind::real, 0, rotate.getNumericValue()};
  }
  QPDFObjectHandle unit = object.getKey("/UserUnit");
  if (unit.isNumber()) entries.userUnit = unit.getNumericValue();
  ArtworkPage page = measuredPdfPage(entries, index);
  std::get<PdfPage>(page.content).document = document;
  return page;
}

/// Adds the warning that names the layers of `pdf` that will not print, if any.
void nameLayersNotPrinted(Artwork& artwork, QPDF& pdf) {
  if (std::optional<std::string> layers = layersNotPrintedWarning(pdf)) {
    artwork.warnings.push_back(std::move(*layers));
  }
}

/// nameLayersNotPrinted for what qpdf may throw on reaching a damaged object.
template <typename Open>
void nameLayersNotPrinted(Artwork& artwork, Open open) {
  try {
    nameLayersNotPrinted(artwork, open());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // A damaged layer list leaves its layers as printing decides them, without a warning.
    debugNote(std::string("qpdf: layers: ") + e.what());
  }
}

}  // namespace

Artwork Artwork::loadPdfToMeasure(const std::string& path) {
  bool layered = false;
  std::optional<Artwork> plain = loadPlainPdf(path, &layered);
  if (!plain) return loadPdf(path);
  // The pages are read; qpdf reads the catalog only (for a long manual, a hundredth of the time
  // its page tree takes).
  if (layered) {
    std::unique_ptr<QPDF> catalog;
    nameLayersNotPrinted(*plain, [&]() -> QPDF& {
      catalog = openForCatalog(path);
      return *catalog;
    });
  }
  return std::move(*plain);
}

Artwork Artwork::loadPdf(const std::string& path) {
  requireReadableArtwork(path);
  std::shared_ptr<PdfDocument> document = PdfDocument::open(path);
  if (document->pageCount() < 1) throw PrintFailure("This PDF has no pages.");
  std::vector<ArtworkPage> pages;
  pages.reserve(document->pageCount());
  for (size_t i = 0; i < document->pageCount(); ++i) {
    try {
      pages.push_back(measuredPage(document, i));
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
  Artwork artwork = pdfArtwork(std::move(pages));
  nameLayersNotPrinted(artwork, [&]() -> QPDF& { return document->qpdf(); });
  artwork.pdfDocument = std::move(document);
  artwork.pdfPageConverter = &convertPdfPage;
  return artwork;
}

}  // namespace vardelle::artwork
