// What the check before qpdf counts in each PDF named on the command line, with no budget of
// values, for bench/pdf_values.sh: one tab-separated line a file,
//   path  file bytes  decoded bytes  values  values reached from the pages  how reading stopped
//   (empty when the file was read whole)  the file's budget of values  its budget of those reached
#include <cstdio>
#include <exception>

#include "artwork/plain_pdf_limits.h"
#include "artwork/plain_pdf_reader.h"

int main(int argc, char** argv) {
  using namespace vardelle::artwork;
  for (int i = 1; i < argc; ++i) {
    try {
      const PdfStructureCount count = countPdfStructure(argv[i]);
      std::printf("%s\t%lld\t%zu\t%zu\t%zu\t%s\t%zu\t%zu\n", argv[i], count.fileBytes,
                  count.decodedBytes, count.values, count.copiedValues, count.stoppedBy.c_str(),
                  plain_pdf::valueBudget(count.fileBytes), plain_pdf::copyBudget(count.fileBytes));
    } catch (const std::exception& e) {
      std::printf("%s\t0\t0\t0\t0\tunreadable: %s\t0\t0\n", argv[i], e.what());
    }
  }
  return 0;
}
