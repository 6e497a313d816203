// A full disk where the helper keeps its temporary files, and where it writes its output: one
// sentence that says so and where, nothing left behind, the existing output as it was.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "color/output_profile.h"
#include "printing/settings/snapshot.h"
#include "testing/failure.h"
#include "testing/icc_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/tmpfs.h"

namespace vardelle::app {
namespace {

using nlohmann::json;
using testing::failureLine;

std::set<std::string> entries(const std::string& folder) {
  std::set<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

std::string noSpace(const std::string& folder, const std::string& what) {
  return "There was no space left in \xE2\x80\x9C" + folder + "\xE2\x80\x9D for " + what +
         ". Free some space there and try again.";
}

class DiskFull : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FixturePage page;
    page.mediaBox = {0, 0, 595.28, 841.89};
    page.content = testing::fillRect(0, 0, 595.28, 841.89, 0.2, 0.5, 0.9);
    artwork = dir.write("art.pdf", testing::makeFixturePdf({page}));
    printing::NativeSnapshot snapshot;
    snapshot.printerName = "P";
    snapshot.archive = "{}";
    snapshot.paper = {595.2755905511812, 841.8897637795276, 0, 0,
                      595.2755905511812, 841.8897637795276};
    snapshot.summary.paperName = "A4";
    snapshot.summary.printerName = "P";
    snapshotPath = dir.write("preset.json", snapshot.toFileBytes());
    profile = testing::makeLutRgbPrinterProfile("Full Disk Matte", 9, true);
    profilePath = dir.write("matte.icc", profile);
  }

  json request(const std::string& output, bool applicationColor) const {
    json r = {{"printerName", "P"},
              {"snapshotPath", snapshotPath},
              {"filePath", artwork},
              {"scalePercent", 100},
              {"outputPath", output}};
    if (applicationColor) {
      r["colorManagement"] = {
          {"mode", "application"},           {"profileId", color::profileId(profile)},
          {"profilePath", profilePath},      {"renderingIntent", "perceptual"},
          {"blackPointCompensation", false}, {"driverColorManagementDisabled", true}};
    }
    return r;
  }

  testing::ProcessOutput run(const std::string& mode, const json& r, const std::string& tmp) {
    return testing::runVardelle(mode, dir.write(mode + "-request.json", r.dump()),
                                {{"TMPDIR", tmp}, {"VARDELLE_DEBUG", testing::kUnset}});
  }

  testing::TempDir dir;
  std::string artwork;
  std::string snapshotPath;
  std::string profile;
  std::string profilePath;
};

TEST_F(DiskFull, TemporaryFolderFullIsSaidAndLeavesNothing) {
  // Room for the working profile and the composed page, not for the 16-bit page raster.
  testing::Tmpfs tmp(8u << 20);
  if (!tmp.mounted()) GTEST_SKIP() << tmp.why();
  const std::string output = dir.write("preview.pdf", "existing preview");
  auto result = run("preview", request(output, true), tmp.path());
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, failureLine(noSpace(tmp.path(), "rendering")));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(entries(tmp.path()), std::set<std::string>{});
  EXPECT_EQ(tmp.usedBytes(), 0u);
  EXPECT_EQ(testing::readFile(output), "existing preview");

  // Not even the composed page fits: the thumbnail's own renderer says the same.
  tmp.fillLeaving("filler", 0);
  const unsigned long long filled = tmp.usedBytes();
  result = run("thumbnail", request(dir.file("thumbnail.png"), false), tmp.path());
  EXPECT_EQ(result.out, failureLine(noSpace(tmp.path(), "rendering")));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(entries(tmp.path()), std::set<std::string>{"filler"});
  EXPECT_EQ(tmp.usedBytes(), filled);
  EXPECT_FALSE(std::filesystem::exists(dir.file("thumbnail.png")));
}

TEST_F(DiskFull, TemporaryFolderFillingUpDuringRenderingIsSaid) {
  // Room for the 52 MB page raster when rendering starts; the rest is taken while Ghostscript
  // writes it, as another program filling the disk would. Ghostscript itself reports that page
  // as drawn.
  testing::Tmpfs tmp(80u << 20);
  if (!tmp.mounted()) GTEST_SKIP() << tmp.why();
  const std::string output = dir.write("preview.pdf", "existing preview");
  int caught = 0;
  for (int attempt = 0; attempt < 5 && caught == 0; ++attempt) {
    std::filesystem::remove(tmp.file("filler"));
    const std::string request = dir.write("request.json", this->request(output, true).dump());
    auto result = testing::runProcess(
        {VARDELLE_BINARY, "preview", request},
        {{"TMPDIR", tmp.path()}, {"VARDELLE_DEBUG", testing::kUnset}}, [&](int) {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (tmp.usedBytes() < (12u << 20) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
          tmp.fillLeaving("filler", 0);
        });
    EXPECT_EQ(result.err, "");
    if (result.exitStatus == 0) {
      // Ghostscript was faster than the filler; the file is the complete new preview.
      std::ofstream(output, std::ios::binary) << "existing preview";
      continue;
    }
    EXPECT_EQ(result.out, failureLine(noSpace(tmp.path(), "rendering")));
    EXPECT_EQ(testing::readFile(output), "existing preview");
    ++caught;
  }
  EXPECT_EQ(caught, 1) << "the disk never filled up in time";
  EXPECT_EQ(entries(tmp.path()), std::set<std::string>{"filler"});
}

TEST_F(DiskFull, OutputFolderFullIsSaidAndKeepsTheOldFile) {
  testing::Tmpfs out(1u << 20);
  if (!out.mounted()) GTEST_SKIP() << out.why();
  testing::TempDir tmp;
  const std::string old = std::string(3000, 'o');
  for (const std::string name : {"preview.pdf", "thumbnail.png"}) {
    testing::TempDir scratch;
    std::filesystem::copy_file(scratch.write("old", old), out.file(name));
  }
  out.fillLeaving("filler", 0);
  for (const auto& [mode, name] : std::vector<std::pair<std::string, std::string>>{
           {"preview", "preview.pdf"}, {"thumbnail", "thumbnail.png"}}) {
    SCOPED_TRACE(mode);
    auto result = run(mode, request(out.file(name), false), tmp.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out,
              failureLine(noSpace(out.path(), "saving \xE2\x80\x9C" + name + "\xE2\x80\x9D")));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(entries(out.path()),
              (std::set<std::string>{"filler", "preview.pdf", "thumbnail.png"}));
    EXPECT_EQ(testing::readFile(out.file(name)), old);
  }
  EXPECT_EQ(entries(tmp.path()), std::set<std::string>{});
}

}  // namespace
}  // namespace vardelle::app
