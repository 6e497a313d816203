#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/files.h"
#include "base/print_failure.h"
#include "testing/temp_dir.h"

namespace vardelle {
namespace {

using testing::TempDir;

TEST(AtomicWrite, ReplacesAndLeavesNoTemporaryFile) {
  TempDir dir;
  std::string target = dir.write("out.pdf", "old");
  writeFileAtomically(target, "new bytes");
  EXPECT_EQ(testing::readFile(target), "new bytes");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicWrite, FailureLeavesOldFileUntouched) {
  TempDir dir;
  std::string target = dir.write("out.pdf", "old");
  EXPECT_THROW(writeFileAtomically(dir.file("missing/out.pdf"), "x"), PlatformError);
  // A target that is a folder cannot be replaced by a file.
  std::filesystem::create_directory(dir.file("folder"));
  EXPECT_THROW(writeFileAtomically(dir.file("folder"), "x"), PlatformError);
  EXPECT_EQ(testing::readFile(target), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(ReadWholeFile, ErrorNamesTheFile) {
  try {
    readWholeFile("/nonexistent/request.json");
    FAIL();
  } catch (const PlatformError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/request.json"), std::string::npos);
  }
}

TEST(ResolvedLocation, LinksAndDotDotReachTheSameFile) {
  TempDir dir;
  std::string art = dir.write("art.pdf", "x");
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_symlink(art, dir.file("link.pdf"));
  EXPECT_EQ(resolvedLocation(dir.file("sub/../art.pdf")), resolvedLocation(art));
  EXPECT_EQ(resolvedLocation(dir.file("link.pdf")), resolvedLocation(art));
  EXPECT_EQ(resolvedLocation(dir.file("sub/new.pdf")),
            resolvedLocation(dir.path()) + "/sub/new.pdf");
}

}  // namespace
}  // namespace vardelle
