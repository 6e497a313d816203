// The plain PDF reader against qpdf on the same bytes: whenever the plain reader answers, its
// answer (pages, sizes, boxes, rotation, units and warnings, a layered file's named layers among
// them, or the refusal) must be the qpdf loader's. A difference aborts. Each input that qpdf can
// read is also written again by qpdf with object and cross-reference streams and compared the
// same way, so that compressed structure, which random changes to bytes seldom keep valid, is
// tried with every page tree the fuzzer finds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <qpdf/QPDFWriter.hh>

#include "artwork/artwork.h"
#include "artwork/pdf_document.h"
#include "base/print_failure.h"

namespace {

using vardelle::PrintFailure;
using vardelle::artwork::Artwork;

// The loaders take a path, so each input goes through scratch files, removed at exit.
struct ScratchFile {
  explicit ScratchFile(const char* name)
      : path("/tmp/vardelle-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()) +
             ".pdf") {}
  ~ScratchFile() { ::unlink(path.c_str()); }
  std::string path;
};

void write(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, std::streamsize(size));
}

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
    for (const std::string& warning : artwork.warnings) out += "|" + warning;
    return out;
  } catch (const PrintFailure& failure) {
    return std::string("refused: ") + failure.what();
  }
}

// Compares the two readers on the file at `path`; true when the plain reader answered.
bool compare(const std::string& path) {
  std::optional<Artwork> plain;
  std::string plainAnswer;
  try {
    // A layered file is measured plainly too, with qpdf reading only its catalog to name them.
    bool layered = false;
    plain = Artwork::loadPlainPdf(path, &layered);
    if (!plain) return false;
    plainAnswer = layered ? measured([&] { return Artwork::loadPdfToMeasure(path); })
                          : measured([&] { return *plain; });
  } catch (const PrintFailure& failure) {
    plainAnswer = std::string("refused: ") + failure.what();
  }
  const std::string qpdfAnswer = measured([&] { return Artwork::loadPdf(path); });
  if (plainAnswer != qpdfAnswer) {
    std::fprintf(stderr, "%s\nplain reader: %s\nqpdf:         %s\n", path.c_str(),
                 plainAnswer.c_str(), qpdfAnswer.c_str());
    std::abort();
  }
  return true;
}

// `data` as qpdf writes it with object streams; empty when qpdf cannot.
std::string withObjectStreams(const uint8_t* data, size_t size) {
  try {
    QPDF pdf;
    vardelle::artwork::silenceQpdf(pdf);
    pdf.processMemoryFile("input", reinterpret_cast<const char*>(data), size);
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setStaticID(true);
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile input("plain-pdf");
  static const ScratchFile rewritten("plain-pdf-streams");
  write(input.path, reinterpret_cast<const char*>(data), size);
  compare(input.path);
  const std::string streams = withObjectStreams(data, size);
  if (!streams.empty()) {
    write(rewritten.path, streams.data(), streams.size());
    compare(rewritten.path);
  }
  return 0;
}
