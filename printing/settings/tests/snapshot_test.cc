#include "printing/settings/snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/print_failure.h"
#include "testing/failure.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

NativeSnapshot sample() {
  NativeSnapshot s;
  s.printerId = "urn:uuid:1234";
  s.printerName = "Studio Printer";
  s.archive = std::string("\x00\x01\xFF/+binary", 11);
  s.paper = {595.2755905511812, 841.8897637795276, 18, 36, 559.28, 769.89};
  s.summary = {"A4", 210, 297, "portrait", 1, "Studio Printer", "color"};
  return s;
}

PrintRequest requestFor(const std::string& snapshotPath) {
  PrintRequest r;
  r.printerName = "Studio Printer";
  r.printerId = "urn:uuid:1234";
  r.snapshotPath = snapshotPath;
  return r;
}

std::string failureOf(const PrintRequest& r, bool required) {
  return testing::failureOf([&] { loadSnapshot(r, required); });
}

const char* kUnreadable =
    "The preset's saved printer settings could not be read. Save Printer Settings again or "
    "recreate the preset.";
const char* kWrongPrinter =
    "These settings belong to a different printer or an unsupported preset version. Save Printer "
    "Settings for the selected printer.";

TEST(Snapshot, FileRoundTripKeepsEveryFieldAndKeyOrder) {
  testing::TempDir dir;
  std::string path = dir.write("preset.json", sample().toFileBytes());
  std::string text = testing::readFile(path);
  EXPECT_EQ(text.find("{\"version\":1,\"printerId\":"), 0u);
  EXPECT_LT(text.find("\"archive\""), text.find("\"paper\""));
  EXPECT_LT(text.find("\"paper\""), text.find("\"summary\""));
  auto loaded = loadSnapshot(requestFor(path), true);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->archive, sample().archive);
  EXPECT_EQ(loaded->paper.width, sample().paper.width);
  EXPECT_EQ(loaded->paper.imageableHeight, 769.89);
  EXPECT_EQ(loaded->summary.colorMode, "color");
  EXPECT_EQ(loaded->printerId, "urn:uuid:1234");
}

TEST(Snapshot, InvalidUtf8IsRefusedNotReplaced) {
  // A Latin-1 byte from a driver's paper name, and a name cut inside a character.
  for (const std::string& bad : {std::string("Papier \xE9pais"), std::string("A4 \xE2\x80")}) {
    NativeSnapshot s = sample();
    s.summary.paperName = bad;
    try {
      s.toFileBytes();
      ADD_FAILURE() << "saved as " << s.toFileBytes();
    } catch (const PrintFailure& e) {
      EXPECT_STREQ(e.what(),
                   "The printer settings could not be saved because a printer or paper name is "
                   "not valid UTF-8 text.");
    }
  }
}

TEST(Snapshot, MissingFileIsNoneOnlyWhenOptional) {
  PrintRequest r = requestFor("/nonexistent/preset.json");
  EXPECT_FALSE(loadSnapshot(r, false));
  EXPECT_EQ(failureOf(r, true),
            "Save Printer Settings for this preset before previewing or printing.");
}

TEST(Snapshot, IdentityRulesBothWays) {
  testing::TempDir dir;
  NativeSnapshot s = sample();
  std::string path = dir.write("p.json", s.toFileBytes());
  PrintRequest r = requestFor(path);
  r.printerId.reset();
  EXPECT_EQ(failureOf(r, false), kWrongPrinter);  // file has an id, request none
  s.printerId.reset();
  dir.write("p.json", s.toFileBytes());
  EXPECT_EQ(failureOf(r, false), "");  // neither has one
  r.printerId = "urn:uuid:1234";
  EXPECT_EQ(failureOf(r, false), kWrongPrinter);  // request has one, file none
  s = sample();
  s.printerName = "studio printer";
  dir.write("p.json", s.toFileBytes());
  EXPECT_EQ(failureOf(r, false), kWrongPrinter);  // no case folding
  s = sample();
  s.version = 2;
  dir.write("p.json", s.toFileBytes());
  EXPECT_EQ(failureOf(r, false), kWrongPrinter);
}

TEST(Snapshot, InvalidPaperPassesItsOwnMessageThrough) {
  testing::TempDir dir;
  NativeSnapshot s = sample();
  s.paper.width = 0;
  PrintRequest r = requestFor(dir.write("p.json", s.toFileBytes()));
  EXPECT_EQ(failureOf(r, false),
            "The preset has invalid paper or printable-area dimensions. Save Printer Settings "
            "again.");
}

TEST(Snapshot, DamagedFilesAreUnreadable) {
  testing::TempDir dir;
  auto good = nlohmann::json::parse(sample().toFileBytes());
  std::vector<std::string> bodies = {"", "not json", "[]"};
  for (const char* key : {"version", "printerName", "archive", "paper", "summary"}) {
    auto broken = good;
    broken.erase(key);
    bodies.push_back(broken.dump());
  }
  for (const char* badArchive : {"%%%", "AAA", "AA=A", "AB=="}) {
    auto broken = good;
    broken["archive"] = badArchive;
    bodies.push_back(broken.dump());
  }
  auto typed = good;
  typed["version"] = "1";
  bodies.push_back(typed.dump());
  typed = good;
  typed["paper"]["height"] = "842";
  bodies.push_back(typed.dump());
  for (const auto& body : bodies) {
    PrintRequest r = requestFor(dir.write("p.json", body));
    EXPECT_EQ(failureOf(r, false), kUnreadable) << body;
  }
}

TEST(Snapshot, EscapedSlashesAndUnknownKeysAreAccepted) {
  testing::TempDir dir;
  auto j = nlohmann::json::parse(sample().toFileBytes());
  j["futureKey"] = 1;
  std::string text = j.dump();
  std::string escaped;
  for (char c : text) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
  auto loaded = loadSnapshot(requestFor(dir.write("p.json", escaped)), true);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->archive, sample().archive);
}

TEST(Snapshot, SettingsReadStartsFreshWithOneStandardErrorLine) {
  testing::TempDir dir;
  PrintRequest r = requestFor(dir.write("p.json", "garbage"));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(snapshotForSettings(r));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, std::string("Starting fresh Printer Settings: ") + kUnreadable + "\n");
  EXPECT_EQ(testing::readFile(r.snapshotPath), "garbage");
}

TEST(Base64, RoundTripAndStrictness) {
  for (std::string s : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
    EXPECT_EQ(base64Decode(base64Encode(s)), s);
  }
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_FALSE(base64Decode("Zm9v\nYmFy"));
  EXPECT_FALSE(base64Decode("Zm9=YmFy"));
}

}  // namespace
}  // namespace vardelle::printing
