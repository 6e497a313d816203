#include "artwork/rasterizer.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include "artwork/ghostscript_api.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "artwork/pdf_document.h"
// pdf_document.h has set up qpdf's headers.
#include <qpdf/QPDFExc.hh>

#include "base/diagnostics.h"
#include "base/drawing_deadline.h"
#include "base/files.h"
#include "base/module_loader.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

/// Everything the C callbacks touch. They only record and return; nothing throws through
/// Ghostscript's frames.
struct RenderState {
  std::string messages;
  // Bitmaps handed to Ghostscript through display_memalloc, so that the finished page can be taken
  // over without a second page-sized copy.
  std::vector<std::vector<unsigned char>> blocks;
  unsigned char* image = nullptr;
  int width = 0;
  int height = 0;
  int raster = 0;
  bool pageShown = false;
  std::vector<unsigned char> taken;
};

int readNothing(void*, char*, int) { return 0; }

int collect(void* handle, const char* text, int length) {
  auto* state = static_cast<RenderState*>(handle);
  // Bound what a hostile file can make us keep.
  if (state->messages.size() < 64 * 1024) state->messages.append(text, length);
  return length;
}

int displayNoop(void*, void*) { return 0; }
int displayPresize(void*, void*, int, int, int, unsigned int) { return 0; }
int displaySize(void* handle, void*, int width, int height, int raster, unsigned int,
                unsigned char* image) {
  auto* state = static_cast<RenderState*>(handle);
  state->image = image;
  state->width = width;
  state->height = height;
  state->raster = raster;
  return 0;
}

int displayPage(void* handle, void*, int, int) {
  auto* state = static_cast<RenderState*>(handle);
  if (state->pageShown) return 0;  // only the first page is wanted
  state->pageShown = true;
  for (auto it = state->blocks.begin(); it != state->blocks.end(); ++it) {
    if (it->data() == state->image) {
      state->taken = std::move(*it);
      state->blocks.erase(it);
      break;
    }
  }
  return 0;
}

int displayUpdate(void*, void*, int, int, int, int) { return 0; }

void* displayAlloc(void* handle, void*, std::size_t size) {
  auto* state = static_cast<RenderState*>(handle);
  try {
    state->blocks.emplace_back(size);
  } catch (...) {
    return nullptr;  // Ghostscript reports the exhaustion itself
  }
  return state->blocks.back().data();
}

int displayFree(void* handle, void*, void* memory) {
  auto* state = static_cast<RenderState*>(handle);
  for (auto it = state->blocks.begin(); it != state->blocks.end(); ++it) {
    if (it->data() == memory) {
      state->blocks.erase(it);
      break;
    }
  }
  // A block taken over by displayPage is ours now; Ghostscript just forgets it.
  return 0;
}

display_callback makeCallbacks() {
  display_callback callbacks{};
  callbacks.size = sizeof(display_callback);
  callbacks.version_major = DISPLAY_VERSION_MAJOR;
  callbacks.version_minor = DISPLAY_VERSION_MINOR;
  callbacks.display_open = displayNoop;
  callbacks.display_preclose = displayNoop;
  callbacks.display_close = displayNoop;
  callbacks.display_presize = displayPresize;
  callbacks.display_size = displaySize;
  callbacks.display_sync = displayNoop;
  callbacks.display_page = displayPage;
  callbacks.display_update = displayUpdate;
  callbacks.display_memalloc = displayAlloc;
  callbacks.display_memfree = displayFree;
  return callbacks;
}

struct CalloutData {
  display_callback* callbacks;
  RenderState* state;
};

int callout(void*, void* handle, const char* device, int id, int size, void* data) {
  if (device == nullptr || std::strcmp(device, "display") != 0) return -1;
  if (id != DISPLAY_CALLOUT_GET_CALLBACK) return -1;
  if (size < static_cast<int>(sizeof(gs_display_get_callback_t))) return -1;
  auto* info = static_cast<CalloutData*>(handle);
  auto* answer = static_cast<gs_display_get_callback_t*>(data);
  answer->callback = info->callbacks;
  answer->caller_handle = info->state;
  return 0;
}

/// One Ghostscript instance: gsapi_exit (once initialised) then gsapi_delete_instance.
class GhostscriptInstance {
 public:
  explicit GhostscriptInstance(void* callerHandle) {
    // Must start null: Ghostscript reads it.
    void* instance = nullptr;
    if (ghostscript().newInstance(&instance, callerHandle) < 0 || instance == nullptr) {
      throw PlatformError("Ghostscript could not be started.");
    }
    instance_ = instance;
  }
  ~GhostscriptInstance() {
    if (initialised_) ghostscript().exit(instance_);
    ghostscript().deleteInstance(instance_);
  }
  GhostscriptInstance(const GhostscriptInstance&) = delete;
  GhostscriptInstance& operator=(const GhostscriptInstance&) = delete;

  void* get() const { return instance_; }
  void markInitialised() { initialised_ = true; }
  /// gsapi_exit once, reporting its code.
  int exit() {
    if (!initialised_) return 0;
    initialised_ = false;
    return ghostscript().exit(instance_);
  }

 private:
  void* instance_ = nullptr;
  bool initialised_ = false;
};

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9f", value);
  return text;
}

[[noreturn]] void fail(const std::string& what, const RenderState& state) {
  std::string message = "Ghostscript " + what + ".";
  if (!state.messages.empty()) message += " " + state.messages;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  throw PlatformError(message);
}

// Ghostscript renders a PDF that needs a password as blank pages and reports success: ask qpdf
// first. Other damage is left to Ghostscript, which repairs what it can.
void refuseLockedPdf(std::string_view bytes) {
  QPDF pdf;
  silenceQpdf(pdf);
  try {
    pdf.processMemoryFile("raster input", bytes.data(), bytes.size(), "");
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password) {
      throw PrintFailure("Unlock this password-protected PDF before printing.");
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
  }
}

}  // namespace

namespace {

// One Ghostscript run over page 1 of `inputPath` at exactly the request's pixel size, the device
// and its own options given by the caller. Both renderers come through here, so the options that
// fix the raster's size and colour cannot drift apart.
void renderPageOne(GhostscriptInstance& gs, const RenderState& state, const RasterRequest& request,
                   const std::vector<std::string>& deviceArgs, const std::string& inputPath) {
  // Band lists in memory: Ghostscript names its band files in $TMPDIR and removes the names only
  // after opening them, so a run ended between the two left one behind (the kill drill found
  // one). In memory they cost a few megabytes more on an A4 page (160 MB became 167 MB).
  std::vector<std::string> args = {"vardelle",  "-dSAFER", "-dBATCH",
                                   "-dNOPAUSE", "-dQUIET", "-dNOPROMPT",
                                   "-sBandListStorage=memory"};
  args.insert(args.end(), deviceArgs.begin(), deviceArgs.end());
  for (std::string arg : {
           "-g" + std::to_string(request.widthPx) + "x" + std::to_string(request.heightPx),
           "-r" + number(72.0 * request.widthPx / request.pageWidthPt) + "x" +
               number(72.0 * request.heightPx / request.pageHeightPt),
           std::string("-dFIXEDMEDIA"),
           std::string("-dTextAlphaBits=4"),
           std::string("-dGraphicsAlphaBits=4"),
           std::string("-dFirstPage=1"),
           std::string("-dLastPage=1"),
           "-sOutputICCProfile=" + request.outputIccProfile,
           std::string("-f"),
           inputPath,
       }) {
    args.push_back(std::move(arg));
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());

  int code = 0;
  {
    // Ghostscript cannot be told to stop; the deadline ends the run instead.
    const DrawingDeadline deadline;
    code = ghostscript().initWithArgs(gs.get(), static_cast<int>(argv.size()), argv.data());
  }
  // Quit is how a finished -dBATCH run reports itself; gsapi_exit is still due then, and after
  // an error, but not after Info.
  if (code != gs_error_Info) gs.markInitialised();
  if (code < 0 && code != gs_error_Quit) fail("could not render the page", state);
  if (gs.exit() < 0) fail("could not finish rendering", state);
}

}  // namespace

RgbRaster rasterizeFirstPage(std::string_view pdfBytes, const RasterRequest& request) {
  if (request.widthPx < 1 || request.heightPx < 1 ||
      !(request.bitsPerComponent == 8 || request.bitsPerComponent == 16) ||
      !std::isfinite(request.pageWidthPt) || !(request.pageWidthPt > 0) ||
      !std::isfinite(request.pageHeightPt) || !(request.pageHeightPt > 0)) {
    throw PlatformError("The raster size or page size is not usable for rendering.");
  }
  refuseLockedPdf(pdfBytes);
  PrivateTempFile file(pdfBytes, "rendering");
  RenderState state;
  display_callback callbacks = makeCallbacks();
  CalloutData calloutData{&callbacks, &state};

  GhostscriptInstance gs(&state);
  ghostscript().setStdioWithHandle(gs.get(), readNothing, collect, collect, &state);
  if (ghostscript().registerCallout(gs.get(), callout, &calloutData) < 0) {
    fail("could not register its display callbacks", state);
  }
  if (ghostscript().setArgEncoding(gs.get(), GS_ARG_ENCODING_UTF8) < 0) {
    fail("could not set its argument encoding", state);
  }

  const unsigned format =
      unsigned{DISPLAY_COLORS_RGB} | unsigned{DISPLAY_ALPHA_NONE} |
      unsigned{request.bitsPerComponent == 16 ? DISPLAY_DEPTH_16 : DISPLAY_DEPTH_8} |
      unsigned{DISPLAY_BIGENDIAN} | unsigned{DISPLAY_TOPFIRST};
  renderPageOne(gs, state, request,
                {"-sDEVICE=display", "-dDisplayFormat=" + std::to_string(format)}, file.path());

  if (!state.pageShown || state.taken.empty() || state.width != request.widthPx ||
      state.height != request.heightPx) {
    fail("produced no page of the requested size", state);
  }

  RgbRaster raster;
  raster.width = state.width;
  raster.height = state.height;
  raster.bitsPerComponent = request.bitsPerComponent;
  const std::size_t rowBytes = raster.rowBytes();
  const std::size_t stride = static_cast<std::size_t>(state.raster);
  const std::size_t rows = static_cast<std::size_t>(state.height);
  if (stride < rowBytes || stride * rows > state.taken.size()) {
    fail("delivered a bitmap of an unexpected layout", state);
  }
  // Drop the row padding in place: each row moves down to a lower or equal address.
  for (std::size_t y = 1; y < rows && stride != rowBytes; ++y) {
    std::memmove(state.taken.data() + rowBytes * y, state.taken.data() + stride * y, rowBytes);
  }
  state.taken.resize(rowBytes * rows);
  raster.pixels = std::move(state.taken);
  return raster;
}

}  // namespace vardelle::artwork

namespace vardelle::artwork {

namespace {

/// The libtiff calls that read the page back, bound when first needed: libtiff and the seven
/// libraries it brings (JPEG, WebP, LERC, ...) took a third of the time an `inspect` of a PNG
/// spends loading its module, and only the managed rendering of a PDF page reads a TIFF.
struct TiffApi {
  decltype(&TIFFOpen) open;
  decltype(&TIFFClose) close;
  decltype(&TIFFGetField) getField;
  decltype(&TIFFGetFieldDefaulted) getFieldDefaulted;
  decltype(&TIFFScanlineSize64) scanlineSize64;
  decltype(&TIFFReadScanline) readScanline;
  decltype(&TIFFSetErrorHandler) setErrorHandler;
  decltype(&TIFFSetWarningHandler) setWarningHandler;
};

const TiffApi& tiff() {
  static const TiffApi api = [] {
    RuntimeLibrary library({"libtiff.so.6"});
    if (!library.loaded()) {
      throw PlatformError("libtiff could not be loaded: " + library.reason() + ".");
    }
    TiffApi bound{};
    library.bind("TIFFOpen", bound.open);
    library.bind("TIFFClose", bound.close);
    library.bind("TIFFGetField", bound.getField);
    library.bind("TIFFGetFieldDefaulted", bound.getFieldDefaulted);
    library.bind("TIFFScanlineSize64", bound.scanlineSize64);
    library.bind("TIFFReadScanline", bound.readScanline);
    library.bind("TIFFSetErrorHandler", bound.setErrorHandler);
    library.bind("TIFFSetWarningHandler", bound.setWarningHandler);
    const std::string& missing = library.missing();
    if (!missing.empty()) throw PlatformError("libtiff has no " + missing + ".");
    return bound;
  }();
  return api;
}

struct TiffCloser {
  void operator()(TIFF* file) const noexcept { tiff().close(file); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

}  // namespace

void rasterizeFirstPageByRows(std::string_view pdfBytes, const RasterRequest& request,
                              const std::function<void(int y, const std::uint16_t* rgb)>& onRow) {
  if (request.widthPx < 1 || request.heightPx < 1 || !std::isfinite(request.pageWidthPt) ||
      !(request.pageWidthPt > 0) || !std::isfinite(request.pageHeightPt) ||
      !(request.pageHeightPt > 0)) {
    throw PlatformError("The raster size or page size is not usable for rendering.");
  }
  // Before Ghostscript runs: a page that could not be read back is not worth rendering.
  const TiffApi& api = tiff();
  refuseLockedPdf(pdfBytes);
  PrivateTempFile file(pdfBytes, "rendering");
  // Ghostscript writes the page band by band into a private file, which is then read a row at a
  // time: memory stays near one band instead of a whole 16-bit page.
  PrivateTempFile tiffFile("", "rendering");
  // The uncompressed page must fit in the temporary folder: said up front as a full
  // disk rather than as a drawing error half-way through the page.
  const unsigned long long pageBytes =
      static_cast<unsigned long long>(request.widthPx) * request.heightPx * 6;
  if (tiffFile.availableBytes() < pageBytes + (1ULL << 20)) {
    throw PrintFailure(noSpaceLeftMessage(temporaryFolder(), "rendering"));
  }
  RenderState state;
  // Ghostscript meets a full disk with "Page drawing error" and, for the page file, even reports
  // success. A page file short of its pixels with less room left than the missing part is the
  // witness.
  auto refuseFullDisk = [&] {
    struct stat st {};
    const unsigned long long written =
        ::fstat(tiffFile.fd(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
    const bool cutShort = written < pageBytes && tiffFile.availableBytes() < pageBytes - written;
    if (cutShort || state.messages.find("Clist I/O error") != std::string::npos) {
      debugNote(state.messages);
      throw PrintFailure(noSpaceLeftMessage(temporaryFolder(), "rendering"));
    }
  };
  try {
    GhostscriptInstance gs(&state);
    ghostscript().setStdioWithHandle(gs.get(), readNothing, collect, collect, &state);
    if (ghostscript().setArgEncoding(gs.get(), GS_ARG_ENCODING_UTF8) < 0) {
      fail("could not set its argument encoding", state);
    }
    renderPageOne(gs, state, request,
                  {"-sDEVICE=tiff48nc",
                   // Bands of about 32 MB: a page with transparency is replayed once per band,
                   // and the default bands made that about 1.3 times slower at the cost of some
                   // 25 MB less memory.
                   "-dBufferSpace=32000000", "-sOutputFile=" + tiffFile.path()},
                  file.path());
  } catch (const PlatformError&) {
    refuseFullDisk();
    throw;
  }
  refuseFullDisk();

  api.setErrorHandler(nullptr);
  api.setWarningHandler(nullptr);
  TiffFile page(api.open(tiffFile.path().c_str(), "r"));
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
  if (!page || !api.getField(page.get(), TIFFTAG_IMAGEWIDTH, &width) ||
      !api.getField(page.get(), TIFFTAG_IMAGELENGTH, &height) ||
      !api.getFieldDefaulted(page.get(), TIFFTAG_BITSPERSAMPLE, &bits) ||
      !api.getFieldDefaulted(page.get(), TIFFTAG_SAMPLESPERPIXEL, &samples) ||
      !api.getFieldDefaulted(page.get(), TIFFTAG_PLANARCONFIG, &planar) ||
      width != uint32_t(request.widthPx) || height != uint32_t(request.heightPx) || bits != 16 ||
      samples != 3 || planar != PLANARCONFIG_CONTIG ||
      api.scanlineSize64(page.get()) != uint64_t(width) * 6) {
    fail("produced no page of the requested size", state);
  }
  // libtiff hands 16-bit samples over in host order.
  std::vector<std::uint16_t> row(std::size_t(width) * 3);
  for (uint32_t y = 0; y < height; ++y) {
    if (api.readScanline(page.get(), row.data(), y, 0) < 0) {
      fail("wrote a page that could not be read back", state);
    }
    onRow(int(y), row.data());
  }
}

}  // namespace vardelle::artwork
