// Writes one of the test ICC profiles to a file, for the benchmarks and the fuzz seeds:
//   make_icc_fixture <lut-printer-33|small-printer-33|lut-printer|display|cmyk|link|abstract>
//                    <output path>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "testing/icc_fixtures.h"

int main(int argc, char** argv) {
  using namespace vardelle::testing;
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: make_icc_fixture "
                 "<lut-printer-33|small-printer-33|lut-printer|display|cmyk|link|abstract> "
                 "<output>\n");
    return 2;
  }
  const std::string kind = argv[1];
  std::string bytes;
  try {
    if (kind == "lut-printer-33") {
      bytes = makeLutRgbPrinterProfile("Benchmark RGB Printer 33", 33, true);
    } else if (kind == "small-printer-33") {
      bytes = makeSmallGamutPrinterProfile("Benchmark Small Printer 33", 33);
    } else if (kind == "lut-printer") {
      bytes = makeLutRgbPrinterProfile("Small RGB Printer", 3);
    } else if (kind == "display") {
      bytes = makeMatrixShaperRgbProfile("Small RGB Display");
    } else if (kind == "cmyk") {
      bytes = makeCmykPrinterProfile("Small CMYK Printer");
    } else if (kind == "link") {
      bytes = makeRgbDeviceLink("Small RGB Link");
    } else if (kind == "abstract") {
      bytes = makeLabAbstractProfile("Small Lab Effect");
    } else {
      std::fprintf(stderr, "make_icc_fixture: unknown kind %s\n", kind.c_str());
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_icc_fixture: %s\n", e.what());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << bytes;
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_icc_fixture: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
