#include "app/commands/settings_command.h"

#include "printing/preset/saved_settings.h"

namespace vardelle::app {

HelperResult settingsCommand(const PrintRequest& request, std::chrono::milliseconds printerWait) {
  return printing::saveSettingsThroughDialog(request, printerWait);
}

}  // namespace vardelle::app
