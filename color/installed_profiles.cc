#include "color/installed_profiles.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "base/print_failure.h"
#include "base/text.h"

namespace vardelle::color {

namespace fs = std::filesystem;

namespace {

/// An environment value usable as a folder: set, non-empty and absolute.
const char* absoluteEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? value : nullptr;
}

bool hasProfileExtension(const fs::path& path) {
  const std::string extension = asciiLowercase(path.extension().string());
  return extension == ".icc" || extension == ".icm";
}

[[noreturn]] void listingFailed(const fs::path& folder, const std::error_code& error) {
  throw PrintFailure("macOS could not list its installed color profiles: The folder \xE2\x80\x9C" +
                     folder.string() +
                     "\xE2\x80\x9D couldn\xE2\x80\x99t be read: " + error.message() + ".");
}

/// The standardised form of an absolute path: "." and ".." resolved lexically, links kept.
std::string standardised(const fs::path& path) {
  std::string text = path.lexically_normal().string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

void collect(const fs::path& root, std::set<std::string>& paths) {
  std::error_code error;
  fs::file_status status = fs::status(root, error);
  // Nothing there (or something that is not a folder): nothing installed in it.
  if (error || !fs::is_directory(status)) {
    if (error && error != std::errc::no_such_file_or_directory &&
        error != std::errc::not_a_directory) {
      listingFailed(root, error);
    }
    return;
  }
  // Linked folders are not entered: a link cycle would otherwise never end.
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
  if (error) listingFailed(root, error);
  // The folder being entered when a step fails is the last entry seen, if that was a folder.
  fs::path current = root;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path& path = it->path();
    current = path;
    if (!hasProfileExtension(path)) continue;
    std::error_code fileError;
    // A linked profile file counts; a dangling link or a folder named like a profile does not.
    if (!fs::is_regular_file(it->status(fileError)) || fileError) continue;
    paths.insert(standardised(path));
  }
  if (error) {
    std::error_code ignored;
    listingFailed(fs::is_directory(fs::symlink_status(current, ignored)) ? current : root, error);
  }
}

}  // namespace

std::vector<std::string> profileSearchRoots() {
  std::vector<std::string> roots = {"/usr/share/color/icc", "/usr/local/share/color/icc"};
  const char* home = absoluteEnvironment("HOME");
  if (const char* dataHome = absoluteEnvironment("XDG_DATA_HOME")) {
    roots.push_back(std::string(dataHome) + "/icc");
  } else if (home) {
    roots.push_back(std::string(home) + "/.local/share/icc");
  }
  if (home) roots.push_back(std::string(home) + "/.color/icc");
  roots.push_back("/var/lib/colord/icc");
  return roots;
}

std::vector<std::string> installedProfilePaths() {
  return installedProfilePaths(profileSearchRoots());
}

std::vector<std::string> installedProfilePaths(const std::vector<std::string>& roots) {
  std::set<std::string> paths;
  for (const auto& root : roots) {
    if (root.empty() || root[0] != '/') continue;
    collect(fs::path(standardised(root)), paths);
  }
  return {paths.begin(), paths.end()};
}

}  // namespace vardelle::color
