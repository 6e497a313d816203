#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/artwork_format.h"
#include "base/files.h"
#include "base/files_internal.h"
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

size_t entryCount(const std::string& folder) {
  return size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(AtomicWrite, NamesUpToTheNameLimitAreSavedNewAndReplaced) {
  TempDir dir;
  // 255 bytes, and 254 in two-byte characters: the temporary name must not outgrow either.
  for (const std::string& name : {std::string(251, 'n') + ".pdf", [] {
                                    std::string s;
                                    for (int i = 0; i < 125; ++i) s += "\xC3\xA9";
                                    return s + ".pdf";
                                  }()}) {
    const std::string target = dir.file(name);
    writeFileAtomically(target, "first");
    writeFileAtomically(target, "second");
    EXPECT_EQ(testing::readFile(target), "second");
    EXPECT_EQ(entryCount(dir.path()), 1u);
    std::filesystem::remove(target);
  }
}

TEST(AtomicWrite, HiddenFileRouteFitsTheNameLimitAndCleansUp) {
  TempDir dir;
  const std::string target = dir.file(std::string(251, 'h') + ".png");
  writeFileAtomically(target, "first", AtomicRoute::hiddenFile);
  writeFileAtomically(target, "second", AtomicRoute::hiddenFile);
  EXPECT_EQ(testing::readFile(target), "second");
  EXPECT_EQ(entryCount(dir.path()), 1u);
  std::filesystem::create_directory(dir.file("folder"));
  EXPECT_THROW(writeFileAtomically(dir.file("folder"), "x", AtomicRoute::hiddenFile),
               PlatformError);
  EXPECT_EQ(entryCount(dir.path()), 2u);
}

TEST(AtomicWrite, AProducerThatFailsHalfwayLeavesTheOldFileByEitherRoute) {
  TempDir dir;
  const std::string target = dir.write("out.pdf", "old");
  // More than the writer buffers, so part of it has reached the temporary file.
  const std::string part(3 << 20, 'p');
  auto halfway = [&](const ByteSink& sink) {
    sink(part);
    sink("tail");
    throw PrintFailure("The document could not be made.");
  };
  for (AtomicRoute route : {AtomicRoute::unnamedWherePossible, AtomicRoute::hiddenFile}) {
    EXPECT_THROW(writeFileAtomically(target, halfway, route), PrintFailure);
    EXPECT_EQ(testing::readFile(target), "old");
    EXPECT_EQ(entryCount(dir.path()), 1u);
  }
  // Pieces large and small arrive whole and in order.
  writeFileAtomically(target, [&](const ByteSink& sink) {
    sink("head");
    sink(part);
    sink("");
    sink("tail");
  });
  EXPECT_EQ(testing::readFile(target), "head" + part + "tail");
}

TEST(AtomicWrite, NewFileGetsTheUsualPermissionsByEitherRoute) {
  TempDir dir;
  const mode_t mask = ::umask(022);
  writeFileAtomically(dir.file("thumb.png"), "png");
  writeFileAtomically(dir.file("hidden.png"), "png", AtomicRoute::hiddenFile);
  ::umask(mask);
  for (const char* name : {"thumb.png", "hidden.png"}) {
    struct stat st {};
    ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << name;
  }
}

TEST(PrivateTempFile, HasNoNameYetIsReadableAndWritableThroughItsPath) {
  TempDir dir;
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  {
    PrivateTempFile file("page bytes", "rendering");
    PrivateTempFile output("", "rendering");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(entryCount(dir.path()), 0u);
    EXPECT_EQ(testing::readFile(file.path()), "page bytes");
    // A library writes its output by path, truncating, as Ghostscript does.
    { std::ofstream(output.path(), std::ios::binary | std::ios::trunc) << "raster"; }
    EXPECT_EQ(testing::readFile(output.path()), "raster");
    EXPECT_GT(file.availableBytes(), 0u);
  }
  EXPECT_EQ(entryCount(dir.path()), 0u);
}

TEST(PrivateTempFile, MissingFolderIsNamedInTheError) {
  ::setenv("TMPDIR", "/nonexistent/vardelle-tmp", 1);
  try {
    PrivateTempFile file("x", "rendering");
    ADD_FAILURE();
  } catch (const PlatformError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/vardelle-tmp"), std::string::npos)
        << e.what();
  }
  ::unsetenv("TMPDIR");
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

namespace vardelle {
namespace {

TEST(ArtworkFormat, OnlyTheLastNameAndItsLastDotCount) {
  EXPECT_EQ(artworkFormatOf("/a/Photo.PNG"), ArtworkFormat::png);
  EXPECT_EQ(artworkFormatOf("/a/scan.tar.pdf"), ArtworkFormat::pdf);
  EXPECT_EQ(artworkFormatOf("/a/art.pdf.txt"), ArtworkFormat::unsupported);
  // A folder's dot is not the file's, and a name that only starts with a dot has no extension.
  EXPECT_EQ(artworkFormatOf("/prints.png/art"), ArtworkFormat::unsupported);
  EXPECT_EQ(artworkFormatOf("/a/.png"), ArtworkFormat::unsupported);
  EXPECT_EQ(artworkFormatOf("/a/art."), ArtworkFormat::unsupported);
}

}  // namespace
}  // namespace vardelle
