#include "app/commands/dispatcher.h"
#include "app/commands/profile_commands.h"
#include "app/engine.h"

extern "C" __attribute__((visibility("default"))) const vardelle::app::Engine* vardelle_engine() {
  static const vardelle::app::Engine engine{
      &vardelle::app::perform,
      &vardelle::app::profilePaths,
      &vardelle::app::inspectProfile,
  };
  return &engine;
}
