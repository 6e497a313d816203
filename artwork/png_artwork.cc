// PNG artwork: the one image of a file, sized by its resolution, its rows read on demand.
#include <cstring>

#include "artwork/artwork.h"
#include "base/print_failure.h"
#include "color/png_source_color.h"

namespace vardelle::artwork {

namespace {

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

}  // namespace

Artwork Artwork::loadPng(const std::string& path, std::optional<double> pngDpi) {
  requireReadableArtwork(path);
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

}  // namespace vardelle::artwork
