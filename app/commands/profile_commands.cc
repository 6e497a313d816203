#include "app/commands/profile_commands.h"

#include "color/catalog_profile.h"
#include "color/installed_profiles.h"

namespace vardelle::app {

HelperResult profilePaths() {
  HelperResult result;
  result.ok = true;
  result.profilePaths = color::installedProfilePaths();
  return result;
}

HelperResult inspectProfile(const ProfileRequest& request) {
  HelperResult result;
  result.ok = true;
  result.profile = color::CatalogProfile::load(request.profilePath, false).summary();
  return result;
}

}  // namespace vardelle::app
