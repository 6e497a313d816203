#include "color/catalog_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/print_failure.h"
#include "testing/icc_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

using testing::makeRawProfile;
using testing::RawTagEntry;
using testing::TempDir;

/// The load failure message, or "" when the bytes load.
std::string loadMessage(const std::string& bytes) {
  TempDir dir;
  try {
    CatalogProfile::load(dir.write("p.icc", bytes));
    return "";
  } catch (const PrintFailure& e) {
    return e.message();
  }
}

std::shared_ptr<const std::string> shared(std::string bytes) {
  return std::make_shared<const std::string>(std::move(bytes));
}

TEST(CatalogProfile, HeaderBoundaries) {
  // 132 bytes with one tag is impossible, so the smallest sound file here has one 8-byte tag.
  const std::string sound = makeRawProfile(152, {{144, 8}});
  EXPECT_EQ(loadMessage(sound), "");

  EXPECT_EQ(loadMessage(sound.substr(0, 131)), kProfileHeaderInvalid);
  EXPECT_EQ(loadMessage(""), kProfileHeaderInvalid);
  std::string noMagic = sound;
  testing::putSignature(noMagic, 36, "acsP");
  EXPECT_EQ(loadMessage(noMagic), kProfileHeaderInvalid);
  for (std::uint32_t declared : {151u, 153u}) {
    std::string wrongSize = sound;
    testing::putUint32(wrongSize, 0, declared);
    EXPECT_EQ(loadMessage(wrongSize), kProfileHeaderInvalid) << declared;
  }
}

TEST(CatalogProfile, TagTableBoundaries) {
  EXPECT_EQ(loadMessage(makeRawProfile(132, {})), kProfileTagTableInvalid);
  // 200 bytes hold (200 - 132) / 12 = 5 entries; the entries' data sits in the last 8 bytes.
  std::vector<RawTagEntry> five(5, RawTagEntry{192, 8});
  EXPECT_EQ(loadMessage(makeRawProfile(200, five)), "");
  EXPECT_EQ(loadMessage(makeRawProfile(200, five, 6)), kProfileTagTableInvalid);
  EXPECT_EQ(loadMessage(makeRawProfile(200, five, 0xFFFFFFFFu)), kProfileTagTableInvalid);
}

TEST(CatalogProfile, TagEntryBoundaries) {
  // Two entries: the table ends at 132 + 24 = 156. The file is 180 bytes.
  auto withSecond = [](RawTagEntry second) {
    return loadMessage(makeRawProfile(180, {{160, 8}, second}));
  };
  EXPECT_EQ(withSecond({156, 8}), "");                  // starts right after the table
  EXPECT_EQ(withSecond({155, 8}), kProfileTagInvalid);  // reaches into the table
  EXPECT_EQ(withSecond({0, 8}), kProfileTagInvalid);    // points into the header
  EXPECT_EQ(withSecond({170, 10}), "");                 // ends exactly at the end of the file
  EXPECT_EQ(withSecond({170, 11}), kProfileTagInvalid);
  EXPECT_EQ(withSecond({180, 8}), kProfileTagInvalid);  // starts at the end
  EXPECT_EQ(withSecond({170, 7}), kProfileTagInvalid);
  EXPECT_EQ(withSecond({0xFFFFFFF8u, 8}), kProfileTagInvalid);  // no wrap-around
  EXPECT_EQ(withSecond({160, 0xFFFFFFFFu}), kProfileTagInvalid);
  // A bad first entry is reported even when a later one is fine; overlapping tags are allowed.
  EXPECT_EQ(loadMessage(makeRawProfile(180, {{160, 7}, {160, 8}})), kProfileTagInvalid);
  EXPECT_EQ(loadMessage(makeRawProfile(180, {{160, 20}, {160, 20}})), "");
}

TEST(CatalogProfile, SignaturesAndClasses) {
  std::string bytes = makeRawProfile(152, {{144, 8}});
  EXPECT_EQ(decodeSignature(bytes, 16), "RGB");
  EXPECT_EQ(decodeSignature(bytes, 36), "acsp");
  EXPECT_EQ(decodeSignature(std::string("\0\0\0\x01", 4), 0), "0x00000001");
  EXPECT_EQ(decodeSignature(std::string(" AB\x7f", 4), 0),
            "0x204142"
            "7f");
  EXPECT_EQ(decodeSignature("    ", 0), "");
  EXPECT_EQ(readUint32("\x01\x02\x03\xff", 0), 0x010203ffu);

  struct Case {
    std::string classBytes;
    std::string deviceClass;
  } cases[] = {{"prtr", "output"},     {"mntr", "display"},
               {"scnr", "input"},      {"spac", "colorSpace"},
               {"link", "deviceLink"}, {"abst", "abstract"},
               {"nmcl", "namedColor"}, {"Prtr", "Prtr"},
               {" ab ", "ab"},         {std::string(4, '\0'), "0x00000000"}};
  for (const auto& c : cases) {
    testing::putSignature(bytes, 12, c.classBytes);
    auto profile = CatalogProfile::fromBytes(shared(bytes), "x.icc");
    EXPECT_EQ(profile.deviceClass(), c.deviceClass);
    EXPECT_EQ(profile.colorSpace(), "RGB");
  }
  testing::putSignature(bytes, 16, "CMYK");
  EXPECT_EQ(CatalogProfile::fromBytes(shared(bytes), "x.icc").colorSpace(), "CMYK");
}

TEST(CatalogProfile, NameIsTheTrimmedDescriptionElseTheFileName) {
  TempDir dir;
  auto named = CatalogProfile::load(
      dir.write("a.icc", testing::makeMatrixShaperRgbProfile("  \n Studio Display\t\r\n")));
  EXPECT_EQ(named.name(), "Studio Display");
  auto blank = CatalogProfile::load(
      dir.write("Blank Name.ICM", testing::makeMatrixShaperRgbProfile(" \n  ")));
  EXPECT_EQ(blank.name(), "Blank Name.ICM");
  // Structurally sound but not a profile the engine can open at all.
  auto unreadable = CatalogProfile::load(dir.write("raw.icc", makeRawProfile(152, {{144, 8}})));
  EXPECT_EQ(unreadable.name(), "raw.icc");
  EXPECT_EQ(unreadable.data().size(), 152u);
}

TEST(CatalogProfile, NamesKeepTheirNonAsciiCharacters) {
  auto nameOf = [](std::string bytes) {
    return CatalogProfile::fromBytes(shared(std::move(bytes)), "f.icc").name();
  };
  // Unicode description (version 4), framed by a no-break and an ideographic space.
  EXPECT_EQ(nameOf(testing::makeMatrixShaperRgbProfile(
                "\u00a0Hahnem\u00fchle Photo Rag \u65e5\u672c\u3000")),
            "Hahnem\u00fchle Photo Rag \u65e5\u672c");
  // Version 2 ASCII field holding Latin-1, or UTF-8, bytes.
  EXPECT_EQ(nameOf(testing::makeLutRgbPrinterProfile("Hahnem\xFChle")), "Hahnem\u00fchle");
  std::string utf8InAscii = testing::makeLutRgbPrinterProfile("Hahnem__hle");
  utf8InAscii.replace(utf8InAscii.find("m__h") + 1, 2, "\xC3\xBC");
  EXPECT_EQ(nameOf(utf8InAscii), "Hahnem\u00fchle");
  // A character outside the basic plane arrives as two UTF-16 halves.
  std::string astral = testing::makeMatrixShaperRgbProfile("Smile XY");
  astral.replace(astral.find(std::string("\0X\0Y", 4)), 4, "\xD8\x3D\xDE\x00", 4);
  EXPECT_EQ(nameOf(astral), "Smile \U0001F600");
}

TEST(CatalogProfile, PathsAndFilesThatCannotBeRead) {
  TempDir dir;
  auto messageOf = [](const std::string& path) -> std::string {
    try {
      CatalogProfile::load(path);
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  };
  EXPECT_EQ(messageOf(""), "ICC profile needs an absolute file path.");
  EXPECT_EQ(messageOf("profiles/a.icc"), "ICC profile needs an absolute file path.");
  EXPECT_THROW(CatalogProfile::load(dir.file("missing.icc")), PlatformError);
  EXPECT_NE(messageOf(dir.file("missing.icc")).find("No such file or directory"),
            std::string::npos);
  // A folder has no file size: the header sentence, not a read error.
  EXPECT_EQ(messageOf(dir.path()), kProfileHeaderInvalid);
  ASSERT_EQ(::mkfifo(dir.file("pipe.icc").c_str(), 0600), 0);
  EXPECT_EQ(messageOf(dir.file("pipe.icc")), kProfileHeaderInvalid);
  if (::geteuid() != 0) {
    std::string locked = dir.write("locked.icc", testing::makeMatrixShaperRgbProfile());
    ::chmod(locked.c_str(), 0);
    EXPECT_THROW(CatalogProfile::load(locked), PlatformError);
  }
}

}  // namespace
}  // namespace vardelle::color
