#include "testing/cups_rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/hand_pdf.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {
namespace {

bool alive(const std::string& pid) {
  std::string stat = readFile("/proc/" + pid + "/stat");
  auto close = stat.rfind(')');
  return !stat.empty() && close != std::string::npos && close + 2 < stat.size() &&
         stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

TEST(CupsRig, KeepsEachJobWithItsAttributesAndStopsWhatItStarted) {
  TempDir files;
  std::string pdf =
      files.write("page.pdf", handWrittenPdf(612, 792, "0 0 1 rg 72 72 144 144 re f"));
  std::vector<std::string> pids;
  {
    CupsRig rig;
    std::string folder = rig.environment().at("VARDELLE_TEST_PRINTER_DIR");
    for (const char* name : {"dbus", "printer", "cupsd"}) {
      pids.push_back(readFile(folder + "/run/" + name + ".pid"));
      while (!pids.back().empty() && pids.back().back() == '\n') pids.back().pop_back();
      ASSERT_TRUE(alive(pids.back())) << name;
    }
    EXPECT_EQ(std::getenv("CUPS_SERVER"), rig.server());

    ProcessOutput submitted =
        runProcess({"/usr/bin/lp", "-d", rig.queue(), "-o", "media=na_letter_8.5x11in", "-o",
                    "print-scaling=none", pdf},
                   rig.environment());
    ASSERT_EQ(submitted.exitStatus, 0) << submitted.err;
    auto jobs = rig.waitForJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    // CUPS' ipp backend passes the paper as a media-col, with the queue's margins.
    EXPECT_NE(jobs[0].attributes["IPP_MEDIA_COL"].find("x-dimension=21590 y-dimension=27940"),
              std::string::npos)
        << jobs[0].attributes["IPP_MEDIA_COL"];
    EXPECT_EQ(jobs[0].attributes["IPP_DOCUMENT_FORMAT_SUPPLIED"], "application/pdf");
    EXPECT_FALSE(readFile(jobs[0].file).empty());
  }
  for (const auto& pid : pids) EXPECT_FALSE(alive(pid)) << pid;
}

std::vector<std::string> rigPids(const std::string& folder) {
  std::vector<std::string> pids;
  for (const char* name : {"dbus", "printer", "cupsd"}) {
    std::string pid = readFile(folder + "/run/" + name + ".pid");
    while (!pid.empty() && pid.back() == '\n') pid.pop_back();
    pids.push_back(pid);
  }
  return pids;
}

// A test that crashed leaves its rig running; the next start in that folder must replace it.
TEST(CupsRig, StartingAgainInTheSameFolderStopsTheStaleRig) {
  TempDir dir;
  std::string script = std::string(VARDELLE_SOURCE_DIR) + "/scripts/test-printer";
  std::string folder = dir.file("rig");
  ProcessOutput first = runProcess({"/bin/bash", script, "start", folder});
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  auto stale = rigPids(folder);
  ProcessOutput second = runProcess({"/bin/bash", script, "start", folder});
  ASSERT_EQ(second.exitStatus, 0) << second.err;
  auto fresh = rigPids(folder);
  ProcessOutput env = runProcess({"/bin/bash", script, "env", folder});
  ProcessOutput stopped = runProcess({"/bin/bash", script, "stop", folder});

  for (const auto& pid : stale) EXPECT_FALSE(alive(pid)) << pid;
  for (const auto& pid : fresh) EXPECT_FALSE(alive(pid)) << pid;
  EXPECT_NE(fresh, stale);
  EXPECT_EQ(env.out, second.out);
  EXPECT_EQ(stopped.exitStatus, 0) << stopped.err;
  EXPECT_NE(runProcess({"/bin/bash", script, "env", folder}).exitStatus, 0);
}

}  // namespace
}  // namespace vardelle::testing
