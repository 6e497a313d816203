// Saves a preset's snapshot file for a CUPS queue the way the settings command would, without
// its dialog: for the demo and the print benchmark.
//
//   make_test_snapshot QUEUE MEDIA portrait|landscape [COPIES] > preset.json

#include <cstdio>
#include <exception>
#include <string>

#include "testing/print_snapshot.h"

int main(int argc, char** argv) {
  using vardelle::printing::Orientation;
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: make_test_snapshot QUEUE MEDIA portrait|landscape [COPIES]\n");
    return 2;
  }
  try {
    const std::string orientation = argv[3];
    auto settings = vardelle::testing::paperSettings(
        argv[1], argv[2],
        orientation == "landscape" ? Orientation::landscape : Orientation::portrait);
    if (argc == 5 && !settings.setOption("copies", argv[4])) {
      std::fprintf(stderr, "make_test_snapshot: copies refused\n");
      return 2;
    }
    const std::string bytes = vardelle::testing::savedSnapshot(settings).toFileBytes();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_test_snapshot: %s\n", e.what());
    return 1;
  }
}
