#pragma once

#include "base/records.h"

namespace vardelle::app {

/// `profile-paths`: the installed ICC profiles, sorted.
HelperResult profilePaths();

/// `inspect-profile`: the summary of one profile file; an unusable profile is still a success.
HelperResult inspectProfile(const ProfileRequest& request);

}  // namespace vardelle::app
