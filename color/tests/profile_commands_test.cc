// The two profile commands through the built helper: request file in, one result line out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "testing/icc_fixtures.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

using testing::runVardelle;
using testing::TempDir;

/// JSON text as the result line writes it: every "/" escaped.
std::string escaped(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

testing::ProcessOutput inspect(const TempDir& dir, const std::string& profilePath) {
  nlohmann::json request = {{"profilePath", profilePath}};
  return runVardelle("inspect-profile", dir.write("request.json", request.dump()));
}

TEST(ProfileCommands, InspectProfileSummarisesUsableAndUnusableProfiles) {
  TempDir dir;
  auto run = inspect(dir, dir.write("display.icc", testing::makeMatrixShaperRgbProfile("Proof")));
  EXPECT_EQ(run.out,
            "{\"ok\":true,\"profile\":{\"colorSpace\":\"RGB\",\"deviceClass\":\"display\","
            "\"name\":\"Proof\",\"usableForPrinting\":true}}\n");
  EXPECT_EQ(run.exitStatus, 0);

  run = inspect(dir, dir.write("cmyk.icc", testing::makeCmykPrinterProfile("Press")));
  EXPECT_EQ(run.out,
            "{\"ok\":true,\"profile\":{\"colorSpace\":\"CMYK\",\"deviceClass\":\"output\","
            "\"incompatibilityReason\":\"CMYK profiles are listed for reference. "
            "Application-managed printing currently requires an RGB profile.\",\"name\":\"Press\","
            "\"usableForPrinting\":false}}\n");
  EXPECT_EQ(run.exitStatus, 0);

  // The engine's complaints about the damaged tag stay inside the helper.
  run = inspect(
      dir, dir.write("damaged profile.icm",
                     testing::withDamagedTag(testing::makeMatrixShaperRgbProfile(" "), "rXYZ")));
  EXPECT_EQ(run.out,
            "{\"ok\":true,\"profile\":{\"colorSpace\":\"RGB\",\"deviceClass\":\"display\","
            "\"incompatibilityReason\":\"ColorSync cannot validate this profile for RGB "
            "conversion. It remains available in the catalog.\",\"name\":\"damaged profile.icm\","
            "\"usableForPrinting\":false}}\n");
  EXPECT_EQ(run.err, "");
}

TEST(ProfileCommands, InspectProfileFailures) {
  TempDir dir;
  const std::string relative =
      "{\"error\":\"ICC profile needs an absolute file path.\",\"ok\":false}\n";
  EXPECT_EQ(inspect(dir, "").out, relative);
  EXPECT_EQ(inspect(dir, "profiles/a.icc").out, relative);

  auto run = inspect(dir, dir.write("short.icc", std::string(131, 'x')));
  EXPECT_EQ(run.out,
            "{\"error\":\"The ICC profile header is invalid or incomplete.\",\"ok\":false}\n");
  EXPECT_EQ(run.exitStatus, 1);

  run = inspect(dir, dir.file("missing.icc"));
  EXPECT_EQ(run.exitStatus, 1);
  auto line = nlohmann::json::parse(run.out);
  EXPECT_NE(line["error"].get<std::string>().find(dir.file("missing.icc")), std::string::npos);

  run = runVardelle("inspect-profile", dir.write("request.json", "{\"profile\":\"/a.icc\"}"));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.out.find("profilePath"), std::string::npos) << run.out;
}

TEST(ProfileCommands, ProfilePathsListsTheUsersProfilesOnceAndSorted) {
  TempDir home;
  std::filesystem::create_directories(home.file(".color/icc/vendor"));
  std::filesystem::create_directories(home.file("data/icc"));
  const std::string mine[] = {home.write(".color/icc/Zed.icc", "x"),
                              home.write(".color/icc/vendor/a.ICM", "x"),
                              home.write("data/icc/b.icc", "x")};
  home.write(".color/icc/notes.txt", "x");
  const std::string request = home.write("request.json", "{}");

  // XDG_DATA_HOME spelled with ".." reaches ~/.color as well: listed once, in standard form.
  for (const std::string& dataHome : {home.file("data"), home.file("data/../.color")}) {
    auto run =
        runVardelle("profile-paths", request, {{"HOME", home.path()}, {"XDG_DATA_HOME", dataHome}});
    ASSERT_EQ(run.exitStatus, 0) << run.out;
    auto line = nlohmann::json::parse(run.out);
    EXPECT_EQ(line["ok"], true);
    auto paths = line["profilePaths"].get<std::vector<std::string>>();
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
    EXPECT_EQ(std::adjacent_find(paths.begin(), paths.end()), paths.end());
    std::vector<std::string> ours;
    std::copy_if(paths.begin(), paths.end(), std::back_inserter(ours),
                 [&](const std::string& p) { return p.rfind(home.path() + "/", 0) == 0; });
    std::vector<std::string> expected = {mine[0], mine[1]};
    if (dataHome == home.file("data")) expected.push_back(mine[2]);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ours, expected) << dataHome;
    EXPECT_NE(run.out.find(escaped(mine[0])), std::string::npos);
  }
}

}  // namespace
}  // namespace vardelle::color
