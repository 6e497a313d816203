#include "app/routing.h"

#include "base/print_failure.h"

namespace vardelle::app {

void checkRouting(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") return;
  request.validate();
  if (mode != "print" && request.copies) {
    throw PrintFailure(
        "A copies override can only be used when printing; saved preset copies remain unchanged.");
  }
  if (mode == "thumbnail" && request.softProof && !request.colorSettings().applicationManaged()) {
    throw PrintFailure(kSoftProofNeedsApplicationColor);
  }
  if (mode == "settings") return;
  if (mode != "inspect" && mode != "preview" && mode != "thumbnail" && mode != "print") {
    throw PrintFailure(
        "Unknown helper command. Expected settings, inspect, preview, thumbnail, or print.");
  }
}

}  // namespace vardelle::app
