// Valid pages built to make a renderer work without end (testing/hostile_pdf.h: long content,
// trees of forms, images and sampled functions that claim too much, deeply nested operands), their
// shape and size chosen by the first bytes of the input and then damaged where the rest name,
// drawn through the thumbnail path as the helper draws them: the bounds checked before a renderer
// is asked, then poppler under the drawing deadline. The recipes keep every page small enough to
// draw in a moment or past the bounds, so a page that outlasts the deadline is a finding: its
// SIGXCPU aborts here, and scripts/fuzz keeps the input.
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "artwork/artwork.h"
#include "artwork/preview.h"
#include "base/print_failure.h"
#include "testing/hostile_pdf.h"

// The deadline of this target, in processor seconds: well under scripts/fuzz's time limit.
extern "C" __attribute__((visibility("default"))) double vardelle_test_drawing_seconds() {
  return 5;
}

namespace {

struct ScratchFile {
  std::string path = "/tmp/vardelle-fuzz-render-" + std::to_string(::getpid()) + ".pdf";
  ~ScratchFile() { ::unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vardelle;
  static const ScratchFile scratch;
  static const bool deadlineAborts = [] {
    ::signal(SIGXCPU, [](int) { std::abort(); });
    return true;
  }();
  (void)deadlineAborts;
  const testing::HostileRecipe recipe = testing::drawingRecipeFromBytes(data, size);
  // Bytes 0-3 make the recipe, the rest damage the file.
  const std::string pdf = testing::damagedPdf(testing::hostilePdf(recipe), data, size, 4);
  {
    std::ofstream out(scratch.path, std::ios::binary | std::ios::trunc);
    out.write(pdf.data(), std::streamsize(pdf.size()));
  }
  try {
    const artwork::Artwork artwork = artwork::Artwork::load(scratch.path, std::nullopt);
    const artwork::PaperGeometry paper{595.28, 841.89, 18, 18, 559.28, 805.89};
    (void)artwork::makeThumbnail(artwork, paper, 50, 0, 0);
  } catch (const PrintFailure&) {
  }
  return 0;
}
