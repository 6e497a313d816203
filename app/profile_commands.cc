#include "app/profile_commands.h"

#include "base/print_failure.h"

namespace vardelle::app {

HelperResult profilePaths() {
  throw PrintFailure("The profile-paths command is not available in this version of vardelle.");
}

HelperResult inspectProfile(const ProfileRequest&) {
  throw PrintFailure("The inspect-profile command is not available in this version of vardelle.");
}

}  // namespace vardelle::app
