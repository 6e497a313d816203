#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelle::artwork {

/// What to render: the first page of a PDF at an exact pixel size.
struct RasterRequest {
  int widthPx = 0;
  int heightPx = 0;
  /// The page's media box size in points; each axis gets its own resolution so that the page
  /// fills the bitmap exactly.
  double pageWidthPt = 0;
  double pageHeightPt = 0;
  /// 8 or 16 bits per component.
  int bitsPerComponent = 8;
  /// The output ICC profile: a file path, or a profile name from Ghostscript's own profile folder.
  std::string outputIccProfile = "srgb.icc";
};

/// RGB pixels, rows top first with no padding; 16-bit samples most significant byte first.
struct RgbRaster {
  int width = 0;
  int height = 0;
  int bitsPerComponent = 8;
  std::vector<unsigned char> pixels;

  std::size_t rowBytes() const {
    return static_cast<std::size_t>(width) * 3 * (bitsPerComponent / 8);
  }
};

/// Renders page 1 of `pdfBytes` with Ghostscript in this process, always under -dSAFER, with
/// anti-aliasing, onto an initially white page. The bytes are passed through a private temporary
/// file that is removed afterwards. A PDF that needs a password is refused with
/// PrintFailure("Unlock this password-protected PDF before printing.") before Ghostscript sees it
/// (Ghostscript would render it blank and report success). Throws PlatformError with
/// Ghostscript's own diagnostics on failure.
RgbRaster rasterizeFirstPage(std::string_view pdfBytes, const RasterRequest& request);

/// Renders page 1 like rasterizeFirstPage at 16 bits per component, but banded: Ghostscript
/// writes the page into a private temporary 48-bit TIFF (removed afterwards), which is then read
/// back a row at a time, so memory stays near one band rather than a whole page. Calls
/// `onRow(y, rgb)` for each row from the top with width × 3 samples in host order; an exception
/// from `onRow` ends reading and passes on. Fails like rasterizeFirstPage.
void rasterizeFirstPageByRows(std::string_view pdfBytes, const RasterRequest& request,
                              const std::function<void(int y, const std::uint16_t* rgb)>& onRow);

}  // namespace vardelle::artwork
