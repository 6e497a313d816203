// The thumbnail renderer module: the one place that includes poppler's headers.
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "artwork/thumbnail_renderer_module.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

/// Poppler's diagnostics, which it would otherwise print on standard error, kept for the failure
/// that needs them and routed back to the default when rendering is over.
class CollectedMessages {
 public:
  CollectedMessages() { poppler::set_debug_error_function(collect, this); }
  ~CollectedMessages() { poppler::set_debug_error_function(ignore, nullptr); }
  CollectedMessages(const CollectedMessages&) = delete;
  CollectedMessages& operator=(const CollectedMessages&) = delete;

  [[noreturn]] void fail(const std::string& what) const {
    std::string message = "Poppler " + what + ".";
    if (!text_.empty()) message += " " + text_;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    throw PlatformError(message);
  }

 private:
  static void collect(const std::string& message, void* closure) {
    auto* self = static_cast<CollectedMessages*>(closure);
    // Bound what a hostile file can make us keep; nothing may throw back into poppler.
    if (self->text_.size() < 64 * 1024) {
      try {
        self->text_ += message + "\n";
      } catch (...) {
      }
    }
  }
  static void ignore(const std::string&, void*) {}

  std::string text_;
};

void renderFirstPage(const std::string& pdfPath, const ThumbnailRenderRequest& request,
                     const std::function<void(const RgbaRows&)>& use) {
  if (request.widthPx < 1 || request.heightPx < 1 || !std::isfinite(request.pageWidthPt) ||
      !(request.pageWidthPt > 0) || !std::isfinite(request.pageHeightPt) ||
      !(request.pageHeightPt > 0)) {
    throw PlatformError("The raster size or page size is not usable for rendering.");
  }
  CollectedMessages messages;
  std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdfPath));
  if (!document || document->is_locked()) messages.fail("could not open the page");
  if (document->pages() < 1) messages.fail("found no page to render");
  std::unique_ptr<poppler::page> page(document->create_page(0));
  if (!page) messages.fail("could not read the page");

  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  renderer.set_paper_color(0xffffffff);
  renderer.set_image_format(poppler::image::format_argb32);
  // Each axis at its own resolution, so that the media box fills the bitmap exactly.
  poppler::image image = renderer.render_page(
      page.get(), 72.0 * request.widthPx / request.pageWidthPt,
      72.0 * request.heightPx / request.pageHeightPt, 0, 0, request.widthPx, request.heightPx);
  if (!image.is_valid() || image.width() != request.widthPx || image.height() != request.heightPx ||
      image.format() != poppler::image::format_argb32 ||
      image.bytes_per_row() < request.widthPx * 4) {
    messages.fail("produced no page of the requested size");
  }

  // ARGB32 is a native-endian word per pixel: blue, green, red, alpha in memory here, turned
  // into RGBA where it lies. The page starts white and opaque, so every pixel is opaque.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ARGB32 read as B, G, R, A bytes");
  const std::size_t rowBytes = static_cast<std::size_t>(image.bytes_per_row());
  auto* pixels = reinterpret_cast<unsigned char*>(image.data());
  for (int y = 0; y < request.heightPx; ++y) {
    unsigned char* p = pixels + rowBytes * y;
    for (int x = 0; x < request.widthPx; ++x, p += 4) {
      const unsigned char blue = p[0];
      p[0] = p[2];
      p[2] = blue;
      p[3] = 255;
    }
  }
  use(RgbaRows{request.widthPx, request.heightPx, rowBytes, pixels});
}

}  // namespace

}  // namespace vardelle::artwork

extern "C" __attribute__((visibility("default"))) const vardelle::artwork::ThumbnailRendererModule*
vardelle_thumbnail_renderer() {
  static const vardelle::artwork::ThumbnailRendererModule module{
      &vardelle::artwork::renderFirstPage};
  return &module;
}
