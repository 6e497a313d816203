// Writes one hostile PDF to standard output, for measuring readers by hand:
//   make_hostile_pdf <shape> <count> [MediaBox|Resources] [dictionaries] [uncompressed] [table]
//   [hex|a85|rl|lzw] [escaped]
// Shapes: lengthChain emptyArrayBomb deepNesting deepPageTree longParentChain xrefBomb
// manySmallObjects, and the valid pages that are too much work to draw: contentBomb formTree
// hugeImage hugeFunction deepOperands.
#include <cstdio>
#include <cstring>
#include <string>

#include "testing/hostile_pdf.h"

int main(int argc, char** argv) {
  using vardelle::testing::HostileShape;
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_hostile_pdf <shape> <count> [options]\n");
    return 2;
  }
  vardelle::testing::HostileRecipe recipe;
  bool known = false;
  for (int i = 0; i < vardelle::testing::kHostileShapeCount; ++i) {
    if (std::strcmp(argv[1], vardelle::testing::kHostileShapeNames[i]) == 0) {
      recipe.shape = HostileShape(i);
      known = true;
    }
  }
  if (!known) {
    std::fprintf(stderr, "unknown shape %s\n", argv[1]);
    return 2;
  }
  recipe.count = std::stoull(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "MediaBox" || option == "Resources") recipe.key = option;
    if (option == "dictionaries") recipe.dictionaries = true;
    if (option == "uncompressed") recipe.compress = false;
    if (option == "table") recipe.xrefStream = false;
    if (option == "hex") recipe.wrapping = vardelle::testing::HostileWrapping::asciiHex;
    if (option == "a85") recipe.wrapping = vardelle::testing::HostileWrapping::ascii85;
    if (option == "rl") recipe.wrapping = vardelle::testing::HostileWrapping::runLength;
    if (option == "lzw") recipe.wrapping = vardelle::testing::HostileWrapping::lzw;
    if (option == "escaped") recipe.escapedNames = true;
  }
  const std::string pdf = vardelle::testing::hostilePdf(recipe);
  std::fwrite(pdf.data(), 1, pdf.size(), stdout);
  return 0;
}
