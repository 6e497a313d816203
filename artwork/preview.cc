#include "artwork/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>
#include <type_traits>

#include "artwork/drawing_bounds.h"
#include "artwork/page_drawing.h"
#include "artwork/placement.h"
#include "artwork/png_writer.h"
#include "artwork/raster_thumbnail.h"
#include "artwork/rasterizer.h"
#include "artwork/sheet_document.h"
#include "artwork/thumbnail_renderer.h"
#include "base/artwork_format.h"
#include "base/diagnostics.h"
#include "base/files.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

void requireFit(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                double offsetXmm, double offsetYmm) {
  const DocumentInfo info = artwork.inspect(scalePercent, paper, offsetXmm, offsetYmm);
  if (info.fits != true || artwork.pages.empty()) {
    throw PrintFailure(
        "The artwork exceeds the paper. Choose a smaller scale or larger paper before previewing.");
  }
}

}  // namespace

std::unique_ptr<SheetDocument> composePreview(const Artwork& artwork, const PaperGeometry& paper,
                                              double scalePercent, double offsetXmm,
                                              double offsetYmm) {
  requireFit(artwork, paper, scalePercent, offsetXmm, offsetYmm);
  auto sheets = std::make_unique<SheetDocument>();
  sheets->setInfo("KORVANEL Print", "Print preview");
  for (const ArtworkPage& page : artwork.pages) {
    sheets->beginSheet(paper.size());
    drawArtworkPage(page, *sheets, paper, scalePercent, offsetXmm, offsetYmm);
  }
  return sheets;
}

std::string makePreview(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                        double offsetXmm, double offsetYmm) {
  return composePreview(artwork, paper, scalePercent, offsetXmm, offsetYmm)->write();
}

ThumbnailSize thumbnailSize(const PaperGeometry& paper) {
  ThumbnailSize size;
  size.pixelsPerPoint = 1200 / std::max(paper.width, paper.height);
  auto side = [&](double points) {
    return static_cast<int>(std::clamp(std::ceil(size.pixelsPerPoint * points), 1.0, 1200.0));
  };
  size.width = side(paper.width);
  size.height = side(paper.height);
  return size;
}

namespace {

template <typename Image>
std::string encodeThumbnail(const Image& image, const ThumbnailSize& size) {
  try {
    if constexpr (std::is_same_v<Image, RgbaRows>) {
      return encodePngRows(image, size.pixelsPerPoint * 72);
    } else {
      return encodePng(image, size.pixelsPerPoint * 72);
    }
  } catch (const PlatformError&) {
    throw PrintFailure("Could not save the artwork preview image.");
  }
}

/// The first page drawn on a one-sheet PDF of the thumbnail's size, ready to be written for a
/// renderer.
struct ThumbnailSheet {
  ThumbnailSize size;
  Size canvas;
  SheetDocument document;

  /// Writes the document; a failure of qpdf is the thumbnail's rendering failure.
  void write(const ByteSink& sink) {
    try {
      document.write(sink);
    } catch (const PrintFailure&) {
      throw PrintFailure("Could not render the artwork preview image.");
    }
  }
};

std::unique_ptr<ThumbnailSheet> composeThumbnailSheet(const Artwork& artwork,
                                                      const PaperGeometry& paper,
                                                      double scalePercent, double offsetXmm,
                                                      double offsetYmm) {
  requireFit(artwork, paper, scalePercent, offsetXmm, offsetYmm);
  if (const PdfPage* pdf = artwork.pages.front().pdf()) requireBoundedDecoding(*pdf);
  auto sheet = std::make_unique<ThumbnailSheet>();
  sheet->size = thumbnailSize(paper);
  // The bitmap's sides are rounded up, so at the uniform scale s it covers slightly more than
  // the paper: the sheet gets that size in points, the paper at its lower-left corner and the
  // sliver beyond it white, as in a bitmap scaled by (s, s).
  sheet->canvas = {sheet->size.width / sheet->size.pixelsPerPoint,
                   sheet->size.height / sheet->size.pixelsPerPoint};
  sheet->document.beginSheet(sheet->canvas);
  drawArtworkPage(artwork.pages.front(), sheet->document, paper, scalePercent, offsetXmm,
                  offsetYmm);
  return sheet;
}

}  // namespace

std::string makeThumbnail(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                          double offsetXmm, double offsetYmm,
                          const std::array<std::uint8_t, 3>& sheetRgb) {
  const PngPage* png = artwork.pages.empty() ? nullptr : artwork.pages.front().png();
  if (!png) {
    // Poppler draws the same sheet in a fraction of the time Ghostscript needs to start. The
    // sheet goes straight into a private file, where poppler reads what it needs of it: a page
    // holding a large picture is never in memory whole.
    const auto sheet = composeThumbnailSheet(artwork, paper, scalePercent, offsetXmm, offsetYmm);
    const PrivateTempFile file([&](const ByteSink& sink) { sheet->write(sink); }, "rendering");
    std::string png;
    try {
      renderThumbnailPage(
          file.path(),
          {sheet->size.width, sheet->size.height, sheet->canvas.width, sheet->canvas.height},
          [&](const RgbaRows& image) { png = encodeThumbnail(image, sheet->size); });
    } catch (const PlatformError& error) {
      debugNote(error.what());
      throw PrintFailure("Could not render the artwork preview image.");
    }
    return png;
  }
  requireFit(artwork, paper, scalePercent, offsetXmm, offsetYmm);
  const ThumbnailSize size = thumbnailSize(paper);
  const PagePlacement p =
      placement(artwork.pages.front().naturalSize(), scalePercent, paper, offsetXmm, offsetYmm);
  if (!p.fitsPaper) {
    throw PrintFailure("The artwork exceeds the paper. Choose a smaller scale or larger paper.");
  }
  // A raster needs only as many samples as the bitmap has pixels: averaging them while decoding
  // is many times cheaper than a PDF of the whole image run through the rasteriser.
  RgbaImage image;
  try {
    image = rasterThumbnail(
        *png, {size.width, size.height, size.pixelsPerPoint, p.rect, paper.imageable(), sheetRgb});
  } catch (const std::bad_alloc&) {
    throw PrintFailure("Could not create the artwork preview image.");
  }
  return encodeThumbnail(image, size);
}

void prepareThumbnail(const std::string& artworkPath, bool applicationManagedColor) {
  // Converted pages are rasters, drawn without the renderer. The loader picks a document's kind
  // by its extension, and so does this.
  if (applicationManagedColor) return;
  if (artworkFormatOf(artworkPath) != ArtworkFormat::pdf) return;
  prepareThumbnailRenderer();
}

std::string makeSheetThumbnail(const Artwork& artwork, const PaperGeometry& paper,
                               double scalePercent, double offsetXmm, double offsetYmm) {
  const auto sheet = composeThumbnailSheet(artwork, paper, scalePercent, offsetXmm, offsetYmm);
  std::string pdf;
  sheet->write([&](std::string_view piece) { pdf.append(piece); });
  RgbRaster raster;
  try {
    raster = rasterizeFirstPage(
        pdf, {sheet->size.width, sheet->size.height, sheet->canvas.width, sheet->canvas.height});
  } catch (const PlatformError& error) {
    debugNote(error.what());
    throw PrintFailure("Could not render the artwork preview image.");
  }

  // Ghostscript starts from an opaque white page, so every pixel is opaque.
  RgbaImage image{raster.width, raster.height, {}};
  image.pixels.resize(size_t(raster.width) * raster.height * 4);
  const unsigned char* in = raster.pixels.data();
  unsigned char* out = image.pixels.data();
  for (size_t i = 0, n = size_t(raster.width) * raster.height; i < n; ++i) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out[3] = 255;
    in += 3;
    out += 4;
  }
  return encodeThumbnail(image, sheet->size);
}

}  // namespace vardelle::artwork
