// Saves a preset's snapshot file for a CUPS queue the way the settings command would, without
// its dialog: for the demo and the print benchmark.
//
//   make_test_snapshot QUEUE MEDIA portrait|landscape [COPIES] [NAME=VALUE ...] > preset.json
//
// Each NAME=VALUE is a saved option of the queue's own (PageSize=A4, StpQuality=Best).

#include <cstdio>
#include <exception>
#include <string>

#include "testing/print_snapshot.h"

int main(int argc, char** argv) {
  using vardelle::printing::Orientation;
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: make_test_snapshot QUEUE MEDIA portrait|landscape [COPIES] "
                 "[NAME=VALUE ...]\n");
    return 2;
  }
  try {
    const std::string orientation = argv[3];
    auto settings = vardelle::testing::paperSettings(
        argv[1], argv[2],
        orientation == "landscape" ? Orientation::landscape : Orientation::portrait);
    for (int i = 4; i < argc; ++i) {
      const std::string argument = argv[i];
      const size_t equals = argument.find('=');
      const bool copies = equals == std::string::npos && i == 4;
      if ((!copies && (equals == std::string::npos || equals == 0)) ||
          !(copies ? settings.setOption("copies", argument)
                   : settings.setOption(argument.substr(0, equals), argument.substr(equals + 1)))) {
        std::fprintf(stderr, "make_test_snapshot: %s refused\n", argv[i]);
        return 2;
      }
    }
    const std::string bytes = vardelle::testing::savedSnapshot(settings).toFileBytes();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_test_snapshot: %s\n", e.what());
    return 1;
  }
}
