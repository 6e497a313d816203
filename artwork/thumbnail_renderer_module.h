#pragma once

// The seam between the helper and its quick PDF renderer. Ghostscript reads some thirty
// PostScript files at every start, about 100 ms before it draws anything; poppler starts in a few
// milliseconds. Poppler and the thirty libraries it brings (NSS among them) would cost every
// command their loading time, so it lives in its own module (vardelle-poppler.so) that only a
// thumbnail of a PDF page loads.

#include <functional>
#include <string>

#include "artwork/png_writer.h"

namespace vardelle::artwork {

/// What the module draws: page 1 of a PDF at an exact pixel size, the page's media box filling
/// the bitmap (each axis at its own resolution).
struct ThumbnailRenderRequest {
  int widthPx = 0;
  int heightPx = 0;
  double pageWidthPt = 0;
  double pageHeightPt = 0;
};

/// The module's entry point; same contract as renderThumbnailPage.
struct ThumbnailRendererModule {
  void (*renderFirstPage)(const std::string& pdfPath, const ThumbnailRenderRequest& request,
                          const std::function<void(const RgbaRows&)>& use);
};

}  // namespace vardelle::artwork

/// The one symbol the module exports.
extern "C" const vardelle::artwork::ThumbnailRendererModule* vardelle_thumbnail_renderer();

/// The module's file name, looked for next to the running executable, then in the installed
/// library folder, then in the build tree.
#define VARDELLE_THUMBNAIL_RENDERER_FILE "vardelle-poppler.so"
