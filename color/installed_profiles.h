#pragma once

#include <string>
#include <vector>

namespace vardelle::color {

/// The folders searched for installed profiles, from the environment: /usr/share/color/icc,
/// /usr/local/share/color/icc, $XDG_DATA_HOME/icc (or ~/.local/share/icc), ~/.color/icc, and
/// colord's device-profile store /var/lib/colord/icc. Relative or empty XDG_DATA_HOME and HOME
/// values are ignored, as the freedesktop rules say.
std::vector<std::string> profileSearchRoots();

/// installedProfilePaths(profileSearchRoots()).
std::vector<std::string> installedProfilePaths();

/// Every file under `roots` (recursively, without entering linked folders) whose name ends in
/// ".icc" or ".icm" in any case, as a standardised absolute path ("." and ".." removed, links
/// kept), listed once, in byte order. A missing root is skipped. Throws PrintFailure "macOS could
/// not list its installed color profiles: " plus the reason when a folder cannot be read.
std::vector<std::string> installedProfilePaths(const std::vector<std::string>& roots);

}  // namespace vardelle::color
