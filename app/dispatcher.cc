#include "app/dispatcher.h"

#include "base/print_failure.h"
#include "printing/settings_command.h"

namespace vardelle::app {

namespace {

[[noreturn]] void notAvailable(const std::string& mode) {
  throw PrintFailure("The " + mode + " command is not available in this version of vardelle.");
}

}  // namespace

HelperResult perform(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") notAvailable(mode);
  request.validate();
  if (mode != "print" && request.copies) {
    throw PrintFailure(
        "A copies override can only be used when printing; saved preset copies remain unchanged.");
  }
  if (mode == "settings") return printing::settings(request);
  if (mode != "inspect" && mode != "preview" && mode != "thumbnail" && mode != "print") {
    throw PrintFailure(
        "Unknown helper command. Expected settings, inspect, preview, thumbnail, or print.");
  }
  notAvailable(mode);
}

}  // namespace vardelle::app
