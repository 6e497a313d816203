// Request bytes straight from the parent's file: decode, validate, and encode a result that
// echoes what was decoded, so that the encoder sees hostile strings and numbers too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/print_failure.h"
#include "base/protocol_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  using namespace vardelle;
  try {
    PrintRequest request = decodePrintRequest(bytes, "fuzz");
    HelperResult result;
    result.ok = true;
    try {
      request.validate();
    } catch (const PrintFailure& e) {
      result = HelperResult::failure(e.what());
    }
    result.outputPath = request.outputPath;
    DocumentInfo doc;
    doc.pages.push_back({request.scalePercent, request.offsetXmm.value_or(0),
                         request.pngDpi.value_or(1),
                         static_cast<double>(request.copies.value_or(1))});
    doc.warnings.push_back(request.printerName);
    result.document = doc;
    (void)encodeResultLine(result);
  } catch (const PlatformError&) {
  }
  try {
    (void)decodeProfileRequest(bytes, "fuzz");
  } catch (const PlatformError&) {
  }
  return 0;
}
