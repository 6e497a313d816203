// The plain PDF reader against qpdf on the same bytes: whenever the plain reader answers, its
// answer (pages, sizes, boxes, rotation, units, or the refusal) must be the qpdf loader's. A
// difference aborts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "artwork/artwork.h"
#include "base/print_failure.h"

namespace {

using vardelle::PrintFailure;
using vardelle::artwork::Artwork;

// The loaders take a path, so each input goes through one scratch file, removed at exit.
struct ScratchFile {
  std::string path = "/tmp/vardelle-fuzz-plain-pdf-" + std::to_string(::getpid()) + ".pdf";
  ~ScratchFile() { ::unlink(path.c_str()); }
};

std::string measured(const std::function<Artwork()>& load) {
  try {
    const Artwork artwork = load();
    std::string out = std::to_string(artwork.pages.size());
    for (const auto& page : artwork.pages) {
      const auto& pdf = *page.pdf();
      char line[512];
      std::snprintf(line, sizeof line, "|%a %a %d %a %a %a %a %a %a %a %a %a", page.size.width,
                    page.size.height, pdf.rotation, pdf.userUnit, pdf.mediaBox.x, pdf.mediaBox.y,
                    pdf.mediaBox.width, pdf.mediaBox.height, pdf.cropBox.x, pdf.cropBox.y,
                    pdf.cropBox.width, pdf.cropBox.height);
      out += line;
    }
    return out;
  } catch (const PrintFailure& failure) {
    return std::string("refused: ") + failure.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile scratch;
  const std::string& path = scratch.path;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  std::optional<Artwork> plain;
  std::string plainAnswer;
  try {
    plain = Artwork::loadPlainPdf(path);
    if (!plain) return 0;
    plainAnswer = measured([&] { return *plain; });
  } catch (const PrintFailure& failure) {
    plainAnswer = std::string("refused: ") + failure.what();
  }
  const std::string qpdfAnswer = measured([&] { return Artwork::loadPdf(path); });
  if (plainAnswer != qpdfAnswer) {
    std::fprintf(stderr, "plain reader: %s\nqpdf:         %s\n", plainAnswer.c_str(),
                 qpdfAnswer.c_str());
    std::abort();
  }
  return 0;
}
