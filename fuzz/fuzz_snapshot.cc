// Snapshot file bytes as a damaged or hostile preset might hold them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/print_failure.h"
#include "printing/settings/snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vardelle;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    printing::NativeSnapshot snapshot = printing::decodeSnapshot(bytes, "fuzz");
    PrintRequest request;
    request.printerName = snapshot.printerName;
    request.printerId = snapshot.printerId;
    try {
      snapshot.validateIdentity(request);
    } catch (const PrintFailure&) {
    }
    (void)printing::decodeSnapshot(snapshot.toFileBytes(), "fuzz");
  } catch (const PlatformError&) {
  }
  return 0;
}
