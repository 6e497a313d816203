#include "app/commands/dispatcher.h"

#include "app/commands/inspect_command.h"
#include "app/commands/output_commands.h"
#include "app/commands/print_command.h"
#include "app/commands/settings_command.h"
#include "app/routing.h"

namespace vardelle::app {

HelperResult perform(const std::string& mode, const PrintRequest& request) {
  if (mode == "sheet-thumbnail") return performSheetThumbnail(request);
  checkRouting(mode, request);
  if (mode == "settings") return settingsCommand(request);
  if (mode == "print") return printCommand(request);
  if (mode == "preview" || mode == "thumbnail") return outputCommand(mode, request);
  return inspectCommand(request);
}

}  // namespace vardelle::app
