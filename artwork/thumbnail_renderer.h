#pragma once

#include <functional>
#include <string>

#include "artwork/png_writer.h"
#include "artwork/thumbnail_renderer_module.h"

namespace vardelle::artwork {

/// Starts loading the renderer on a thread of its own, so that it is ready by the time
/// renderThumbnailPage needs it; its failure is reported there. Idempotent.
void prepareThumbnailRenderer();

/// Renders page 1 of the PDF file at `pdfPath` with poppler (the vardelle-poppler.so module, loaded
/// on first use) onto an opaque white bitmap of exactly the request's size: anti-aliased, ICC-based
/// colour converted to sRGB, every pixel opaque, and hands the bitmap to `use` (valid only during
/// that call: it is poppler's own, not copied). For sheets this helper composed itself (no
/// password, no annotations to show). Throws PlatformError with poppler's diagnostics when the page
/// cannot be drawn, PrintFailure when the module cannot be loaded; what `use` throws passes
/// through.
void renderThumbnailPage(const std::string& pdfPath, const ThumbnailRenderRequest& request,
                         const std::function<void(const RgbaRows&)>& use);

}  // namespace vardelle::artwork
