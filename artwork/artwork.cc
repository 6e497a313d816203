#include "artwork/artwork.h"

#include <unistd.h>

#include <cmath>
#include <cstring>

#include "artwork/pdf_document.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "color/png_source_color.h"

namespace vardelle::artwork {

namespace {

// The text after the last dot of the last path component, lower-cased; empty when there is none
// or the name only starts with a dot.
std::string extensionOf(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return extension;
}

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

Artwork loadPdf(const std::string& path) {
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
  artwork.sourceColorProfile = kPdfSourceColorProfile;
  artwork.colorManagement = kPrinterManaged;
  return artwork;
}

color::ColorModel modelOf(PngColorType type) {
  switch (type) {
    case PngColorType::gray:
    case PngColorType::grayAlpha:
      return color::ColorModel::gray;
    case PngColorType::palette:
      return color::ColorModel::indexed;
    default:
      return color::ColorModel::rgb;
  }
}

Artwork loadPng(const std::string& path, std::optional<double> pngDpi) {
  PngMetadata meta = readPngMetadata(path);
  const char* noResolution =
      "This PNG has no valid physical resolution. Enter its intended DPI in the preset (for "
      "example, 300); pixel dimensions alone do not define print size.";
  double dpiX, dpiY;
  if (pngDpi) {
    dpiX = dpiY = *pngDpi;
  } else {
    if (!meta.dpiX || !meta.dpiY) throw PrintFailure(noResolution);
    dpiX = *meta.dpiX;
    dpiY = *meta.dpiY;
  }
  if (!finitePositive({dpiX, dpiY})) throw PrintFailure(noResolution);
  if (meta.scan.orientation && *meta.scan.orientation != 1) {
    throw PrintFailure(
        "This PNG has an orientation transform. Export an upright PNG before printing.");
  }
  const Size size{double(meta.header.width) * 72 / dpiX, double(meta.header.height) * 72 / dpiY};
  if (!finitePositive(size)) throw PrintFailure("This PNG has invalid physical dimensions.");

  Artwork artwork;
  artwork.format = "PNG";
  artwork.warnings = {kPrinterColorWarning};
  if (pngDpi) artwork.warnings.push_back(kDpiOverrideWarning);
  color::InterpretedPng color =
      color::interpretedPNG(color::pngDecoderColorSpace(modelOf(meta.header.colorType), meta.color),
                            meta.scan.colorMetadataSeen, meta.scan.oversizedChunk);
  if (color.assumed) artwork.warnings.push_back(color.description);

  PngPage page;
  page.path = path;
  page.header = meta.header;
  page.dpiX = dpiX;
  page.dpiY = dpiY;
  page.colorSpace = std::move(color.space);
  artwork.pages.push_back({std::move(page), size});
  artwork.dpiX = dpiX;
  artwork.dpiY = dpiY;
  artwork.sourceColorProfile = color.description;
  artwork.colorManagement = kPrinterManaged;
  return artwork;
}

}  // namespace

std::shared_ptr<const Pixels> PngPage::decode() const {
  if (pixels) return pixels;
  if (rows) {
    auto made = std::make_shared<Pixels>(layout());
    made->bytes.resize(made->rowBytes() * made->height);
    rows->forEachRow([&](uint32_t y, const unsigned char* row) {
      std::memcpy(made->bytes.data() + made->rowBytes() * y, row, made->rowBytes());
    });
    return made;
  }
  return std::make_shared<const Pixels>(decodePngPixels(path, header));
}

void PngPage::forEachRow(
    const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const {
  if (rows) return rows->forEachRow(onRow);
  if (!pixels) return decodePngRows(path, header, onRow);
  for (uint32_t y = 0; y < pixels->height; ++y) {
    onRow(y, pixels->bytes.data() + pixels->rowBytes() * y);
  }
}

Artwork Artwork::load(const std::string& path, std::optional<double> pngDpi) {
  requireAbsolutePath(path, "Artwork");
  if (::access(path.c_str(), R_OK) != 0) {
    throw PrintFailure(
        "The artwork could not be read. Check that the file is downloaded and still exists.");
  }
  const std::string extension = extensionOf(path);
  if (extension == "pdf") return loadPdf(path);
  if (extension == "png") return loadPng(path, pngDpi);
  throw PrintFailure("Only PDF and PNG artwork is supported.");
}

}  // namespace vardelle::artwork
