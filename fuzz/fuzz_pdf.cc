// PDF files as they arrive from the user: opening with qpdf, permissions, the page tree and every
// page's boxes, rotation and UserUnit, then the measurements of inspection.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "artwork/artwork.h"
#include "base/print_failure.h"

namespace {

// The loader takes a path, so each input goes through one scratch file, removed at exit.
struct ScratchFile {
  std::string path = "/tmp/vardelle-fuzz-pdf-" + std::to_string(::getpid()) + ".pdf";
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
  try {
    artwork::Artwork a = artwork::Artwork::load(path, std::nullopt);
    const artwork::PaperGeometry paper{595.28, 841.89, 18, 18, 559.28, 805.89};
    (void)a.inspect(100, paper, 0, 0);
  } catch (const PrintFailure&) {
  }
  return 0;
}
