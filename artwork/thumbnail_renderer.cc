// renderThumbnailPage, served by the poppler module loaded on first use.
#include "artwork/thumbnail_renderer.h"

#include <future>
#include <mutex>
#include <system_error>

#include "base/module_loader.h"

namespace vardelle::artwork {

namespace {

const ThumbnailRendererModule* loadModule() {
  using Entry = const ThumbnailRendererModule* (*)();
  auto entry = reinterpret_cast<Entry>(
      loadHelperModule(VARDELLE_THUMBNAIL_RENDERER_FILE, "vardelle_thumbnail_renderer",
                       VARDELLE_RENDERER_INSTALL_DIR, VARDELLE_RENDERER_BUILD_DIR,
                       "The helper's PDF renderer, which draws thumbnails,"));
  return entry();
}

std::once_flag started;
std::shared_future<const ThumbnailRendererModule*> loaded;

void startLoading() {
  std::call_once(started, [] {
    try {
      loaded = std::async(std::launch::async, loadModule).share();
    } catch (const std::system_error&) {
      // No thread to be had: load when first needed instead.
      loaded = std::async(std::launch::deferred, loadModule).share();
    }
  });
}

}  // namespace

void prepareThumbnailRenderer() { startLoading(); }

void renderThumbnailPage(const std::string& pdfPath, const ThumbnailRenderRequest& request,
                         const std::function<void(const RgbaRows&)>& use) {
  startLoading();
  loaded.get()->renderFirstPage(pdfPath, request, use);
}

}  // namespace vardelle::artwork
