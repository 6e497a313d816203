// renderThumbnailPage, served by the poppler module loaded on first use.
#include "artwork/thumbnail_renderer.h"

#include <future>
#include <mutex>

#include "base/drawing_deadline.h"
#include "base/module_loader.h"
#include "base/worker_threads.h"

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
    auto loading = std::make_shared<std::promise<const ThumbnailRendererModule*>>();
    loaded = loading->get_future().share();
    const bool onItsOwn = startDetachedThread([loading] {
      try {
        loading->set_value(loadModule());
      } catch (...) {
        loading->set_exception(std::current_exception());
      }
    });
    // No thread to be had: load when first needed instead.
    if (!onItsOwn) loaded = std::async(std::launch::deferred, loadModule).share();
  });
}

}  // namespace

void prepareThumbnailRenderer() { startLoading(); }

void renderThumbnailPage(const std::string& pdfPath, const ThumbnailRenderRequest& request,
                         const std::function<void(const RgbaRows&)>& use) {
  startLoading();
  const ThumbnailRendererModule* module = loaded.get();
  // Poppler cannot be told to stop; the deadline ends the run instead (base/drawing_deadline.h).
  const DrawingDeadline deadline;
  module->renderFirstPage(pdfPath, request, use);
}

}  // namespace vardelle::artwork
