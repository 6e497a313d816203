// renderThumbnailPage, served by the poppler module loaded on first use.
#include "artwork/thumbnail_renderer.h"

#include "base/module_loader.h"

namespace vardelle::artwork {

void renderThumbnailPage(std::string_view pdfBytes, const ThumbnailRenderRequest& request,
                         const std::function<void(const RgbaRows&)>& use) {
  static const ThumbnailRendererModule* module = [] {
    using Entry = const ThumbnailRendererModule* (*)();
    auto entry = reinterpret_cast<Entry>(
        loadHelperModule(VARDELLE_THUMBNAIL_RENDERER_FILE, "vardelle_thumbnail_renderer",
                         VARDELLE_RENDERER_INSTALL_DIR, VARDELLE_RENDERER_BUILD_DIR,
                         "The helper's PDF renderer, which draws thumbnails,"));
    return entry();
  }();
  module->renderFirstPage(pdfBytes, request, use);
}

}  // namespace vardelle::artwork
