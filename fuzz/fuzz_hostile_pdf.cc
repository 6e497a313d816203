// PDFs built to exhaust a reader (testing/hostile_pdf.h), their shape, sizes and encodings chosen
// by the first bytes of the input and then damaged at the places the remaining bytes name: random
// bytes alone almost never make a valid object stream, let alone thousands of them chained. Both
// readers run on each file the way the helper runs them: the plain reader, then the check before
// qpdf and qpdf itself whenever the check vouches for the file. scripts/fuzz runs this with a
// memory and a time limit, so a file that exhausts either is a finding, not a slow run. (A file the
// check declines is left to the process's own limits, tested by the Hostile tests.)
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "artwork/artwork.h"
#include "artwork/plain_pdf_reader.h"
#include "base/print_failure.h"
#include "testing/hostile_pdf.h"

namespace {

// The loaders take a path, so each input goes through one scratch file, removed at exit.
struct ScratchFile {
  std::string path = "/tmp/vardelle-fuzz-hostile-" + std::to_string(::getpid()) + ".pdf";
  ~ScratchFile() { ::unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vardelle;
  static const ScratchFile scratch;
  const testing::HostileRecipe recipe = testing::hostileRecipeFromBytes(data, size);
  // Bytes 0-5 make the recipe, the rest damage the file.
  const std::string pdf = testing::damagedPdf(testing::hostilePdf(recipe), data, size, 6);
  {
    std::ofstream out(scratch.path, std::ios::binary | std::ios::trunc);
    out.write(pdf.data(), std::streamsize(pdf.size()));
  }
  try {
    (void)artwork::Artwork::loadPlainPdf(scratch.path);
  } catch (const PrintFailure&) {
  }
  try {
    if (artwork::checkPdfBeforeQpdf(scratch.path)) {
      artwork::Artwork a = artwork::Artwork::load(scratch.path, std::nullopt);
      const artwork::PaperGeometry paper{595.28, 841.89, 18, 18, 559.28, 805.89};
      (void)a.inspect(100, paper, 0, 0);
    }
  } catch (const PrintFailure&) {
  }
  return 0;
}
