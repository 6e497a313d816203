#include "testing/machine_shape.h"

#include <cstdlib>

namespace vardelle::testing {

std::map<std::string, std::string> machineShape(unsigned cores, double drawingSeconds) {
  std::map<std::string, std::string> env = {{"LD_PRELOAD", VARDELLE_MACHINE_SHAPE_LIBRARY},
                                            {"VARDELLE_SHAPE_CORES", std::to_string(cores)}};
  if (drawingSeconds > 0) {
    env["VARDELLE_SHAPE_DRAWING_SECONDS"] = std::to_string(drawingSeconds);
  }
  // A sanitized helper wants its runtime first among the libraries; the preloaded one is plain.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] =
      std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  return env;
}

}  // namespace vardelle::testing
