#include "artwork/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "artwork/page_drawing.h"
#include "artwork/placement.h"
#include "artwork/png_writer.h"
#include "artwork/raster_thumbnail.h"
#include "artwork/rasterizer.h"
#include "artwork/sheet_document.h"
#include "base/diagnostics.h"
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

std::string encodeThumbnail(const RgbaImage& image, const ThumbnailSize& size) {
  try {
    return encodePng(image, size.pixelsPerPoint * 72);
  } catch (const PlatformError&) {
    throw PrintFailure("Could not save the artwork preview image.");
  }
}

}  // namespace

std::string makeThumbnail(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                          double offsetXmm, double offsetYmm) {
  const PngPage* png = artwork.pages.empty() ? nullptr : artwork.pages.front().png();
  if (!png) return makeSheetThumbnail(artwork, paper, scalePercent, offsetXmm, offsetYmm);
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
        *png, {size.width, size.height, size.pixelsPerPoint, p.rect, paper.imageable()});
  } catch (const std::bad_alloc&) {
    throw PrintFailure("Could not create the artwork preview image.");
  }
  return encodeThumbnail(image, size);
}

std::string makeSheetThumbnail(const Artwork& artwork, const PaperGeometry& paper,
                               double scalePercent, double offsetXmm, double offsetYmm) {
  requireFit(artwork, paper, scalePercent, offsetXmm, offsetYmm);
  const ThumbnailSize size = thumbnailSize(paper);
  // The bitmap's sides are rounded up, so at the uniform scale s it covers slightly more than
  // the paper: the sheet gets that size in points, the paper at its lower-left corner and the
  // sliver beyond it white, as in a bitmap scaled by (s, s).
  const Size canvas{size.width / size.pixelsPerPoint, size.height / size.pixelsPerPoint};
  SheetDocument sheet;
  sheet.beginSheet(canvas);
  drawArtworkPage(artwork.pages.front(), sheet, paper, scalePercent, offsetXmm, offsetYmm);
  std::string pdf;
  try {
    pdf = sheet.write();
  } catch (const PrintFailure&) {
    throw PrintFailure("Could not render the artwork preview image.");
  }

  RgbRaster raster;
  try {
    raster = rasterizeFirstPage(pdf, {size.width, size.height, canvas.width, canvas.height});
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
  return encodeThumbnail(image, size);
}

}  // namespace vardelle::artwork
