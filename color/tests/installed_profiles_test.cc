#include "color/installed_profiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/print_failure.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

using Paths = std::vector<std::string>;

TEST(InstalledProfiles, ListsProfileFilesOnceInByteOrder) {
  TempDir dir;
  fs::create_directories(dir.file("system/vendor/deep"));
  fs::create_directories(dir.file("user"));
  fs::create_directories(dir.file("system/folder.icc"));  // a folder, not a profile
  dir.write("system/b.icc", "");
  dir.write("system/vendor/C.ICM", "");
  dir.write("system/vendor/deep/a.Icc", "");
  dir.write("system/readme.txt", "");
  dir.write("system/icc", "");  // no extension
  dir.write("system/notes.icc.txt", "");
  dir.write("user/B.icc", "");
  fs::create_symlink(dir.file("system/b.icc"), dir.file("user/linked.icm"));
  fs::create_symlink(dir.file("nowhere.icc"), dir.file("user/dangling.icc"));
  // A linked folder is not entered, so a cycle cannot hold the listing up.
  fs::create_directory_symlink(dir.file("system"), dir.file("system/vendor/loop"));

  const Paths listed = installedProfilePaths(
      {dir.file("system"), dir.file("user"), dir.file("system/vendor"),  // nested twice
       dir.file("user/../system/./vendor/"), dir.file("missing"), "relative/icc"});
  EXPECT_EQ(listed, (Paths{dir.file("system/b.icc"), dir.file("system/vendor/C.ICM"),
                           dir.file("system/vendor/deep/a.Icc"), dir.file("user/B.icc"),
                           dir.file("user/linked.icm")}));
}

TEST(InstalledProfiles, ReportsPathsInStandardisedFormWithoutResolvingLinks) {
  TempDir dir;
  fs::create_directories(dir.file("real/icc"));
  dir.write("real/icc/x.icc", "");
  fs::create_directory_symlink(dir.file("real"), dir.file("alias"));
  EXPECT_EQ(installedProfilePaths({dir.file("alias/../real/icc")}),
            Paths{dir.file("real/icc/x.icc")});
  EXPECT_EQ(installedProfilePaths({dir.file("alias/icc"), dir.file("./real//icc")}),
            (Paths{dir.file("alias/icc/x.icc"), dir.file("real/icc/x.icc")}));
}

TEST(InstalledProfiles, EmptySystemGivesAnEmptyList) {
  TempDir dir;
  fs::create_directories(dir.file("empty"));
  dir.write("file-not-folder", "");
  EXPECT_EQ(installedProfilePaths({}), Paths{});
  EXPECT_EQ(
      installedProfilePaths({dir.file("empty"), dir.file("gone"), dir.file("file-not-folder")}),
      Paths{});
}

TEST(InstalledProfiles, UnreadableFolderFailsTheListing) {
  TempDir dir;
  fs::create_directory_symlink(dir.file("loop"), dir.file("loop"));
  const std::string prefix = "macOS could not list its installed color profiles: ";
  try {
    installedProfilePaths({dir.file("loop")});
    ADD_FAILURE() << "a looping folder was listed";
  } catch (const PrintFailure& e) {
    std::string message = e.message();
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_NE(message.find(dir.file("loop")), std::string::npos) << message;
  }
  if (::geteuid() != 0) {
    fs::create_directories(dir.file("root/locked"));
    fs::permissions(dir.file("root/locked"), fs::perms::none);
    try {
      installedProfilePaths({dir.file("root")});
      ADD_FAILURE() << "an unreadable folder was skipped";
    } catch (const PrintFailure& e) {
      EXPECT_NE(std::string(e.message()).find(dir.file("root/locked")), std::string::npos);
    }
    fs::permissions(dir.file("root/locked"), fs::perms::owner_all);
  }
}

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnvironment() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(InstalledProfiles, SearchRootsFollowTheFreedesktopFolders) {
  {
    ScopedEnvironment home("HOME", "/home/ada");
    ScopedEnvironment data("XDG_DATA_HOME", "/data/ada");
    EXPECT_EQ(profileSearchRoots(),
              (Paths{"/usr/share/color/icc", "/usr/local/share/color/icc", "/data/ada/icc",
                     "/home/ada/.color/icc", "/var/lib/colord/icc"}));
  }
  {
    ScopedEnvironment home("HOME", "/home/ada");
    ScopedEnvironment data("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(profileSearchRoots()[2], "/home/ada/.local/share/icc");
  }
  {
    ScopedEnvironment home("HOME", nullptr);
    ScopedEnvironment data("XDG_DATA_HOME", "");
    EXPECT_EQ(profileSearchRoots(),
              (Paths{"/usr/share/color/icc", "/usr/local/share/color/icc", "/var/lib/colord/icc"}));
  }
}

}  // namespace
}  // namespace vardelle::color
