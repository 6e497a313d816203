// PNG files as they arrive from the user: the chunk-header scan, libpng's metadata read, the
// colour interpretation and, for small images, the pixel decode.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "artwork/artwork.h"
#include "base/print_failure.h"

namespace {

// The loaders take paths, so each input goes through one scratch file, removed at exit.
struct ScratchFile {
  std::string path = "/tmp/vardelle-fuzz-png-" + std::to_string(::getpid()) + ".png";
  ~ScratchFile() { ::unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vardelle;
  static const ScratchFile scratch;
  const std::string& path = scratch.path;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  (void)artwork::exifOrientation(data, size);
  try {
    artwork::Artwork a = artwork::Artwork::load(path, std::nullopt);
    (void)a.inspect(100, std::nullopt, 0, 0);
    const artwork::PngPage* page = a.pages.at(0).png();
    // Decoding allocates the whole image; keep the fuzzer to images that fit its memory.
    if (uint64_t(page->header.width) * page->header.height <= 1u << 20) (void)page->decode();
  } catch (const PrintFailure&) {
  } catch (const PlatformError&) {
  }
  try {
    (void)artwork::Artwork::load(path, 300.0);
  } catch (const PrintFailure&) {
  } catch (const PlatformError&) {
  }
  return 0;
}
