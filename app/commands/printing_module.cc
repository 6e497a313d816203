// The printing module (vardelle-printing.so): settings and print, the commands that talk to
// CUPS and its drivers. Only they load libcups, GSS-API and libgutenprint.
#include <stdexcept>

#include "app/commands/print_command.h"
#include "app/commands/settings_command.h"
#include "app/engine.h"
#include "app/routing.h"
#include "base/print_failure.h"

namespace vardelle::app {

namespace {

HelperResult performPrintingCommand(const std::string& mode, const PrintRequest& request) {
  checkRouting(mode, request);
  if (mode == "settings") return settingsCommand(request);
  if (mode == "print") return printCommand(request);
  throw std::logic_error("The printing module does not serve " + mode + ".");
}

HelperResult notServed() { throw std::logic_error("The printing module serves no profiles."); }
HelperResult notServedFor(const ProfileRequest&) { return notServed(); }

}  // namespace

}  // namespace vardelle::app

extern "C" __attribute__((visibility("default"))) const vardelle::app::Engine* vardelle_engine() {
  static const vardelle::app::Engine engine{
      &vardelle::app::performPrintingCommand,
      &vardelle::app::notServed,
      &vardelle::app::notServedFor,
  };
  return &engine;
}
