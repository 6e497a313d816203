// ICC profile bytes as a file in a profile folder would hold them: the catalog's structural
// checks and naming, then the usability verdict, which hands the bytes to the colour engine.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/print_failure.h"
#include "color/catalog_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
  try {
    auto profile = vardelle::color::CatalogProfile::fromBytes(bytes, "fuzz.icc");
    auto summary = profile.summary();
    if (summary.name.empty()) __builtin_trap();
    if (summary.usableForPrinting == summary.incompatibilityReason.has_value()) __builtin_trap();
  } catch (const vardelle::PrintFailure&) {
  }
  return 0;
}
