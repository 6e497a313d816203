#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/watchdog.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::app {
namespace {

using testing::runVardelle;

TEST(ParentPid, AcceptsOnlySigned32BitDecimal) {
  EXPECT_EQ(parseParentPid("+123"), 123);
  EXPECT_EQ(parseParentPid("2147483647"), 2147483647);
  EXPECT_EQ(parseParentPid("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "12 ", " 12", "12a", "abc", "+", "-", "++1", "2147483648",
                          "-2147483649", "99999999999999999999", "0x10"}) {
    EXPECT_FALSE(parseParentPid(bad)) << bad;
  }
  EXPECT_FALSE(parentMatches(1, 1));
  EXPECT_FALSE(parentMatches(-5, -5));
  EXPECT_TRUE(parentMatches(2, 2));
}

TEST(ParentPid, InvalidValuesAreRefusedBeforeTheRequestPath) {
  // The relative request path would fail next; the identifier must be reported first.
  for (const char* bad : {"1", "0", "-5", "", "12 ", "abc", "4294967297"}) {
    auto run = runVardelle("inspect", "relative.json", {{"KORVANEL_PARENT_PID", bad}});
    EXPECT_EQ(run.out,
              "{\"error\":\"The app supplied an invalid parent process identifier.\","
              "\"ok\":false}\n")
        << bad;
    EXPECT_EQ(run.exitStatus, 1);
  }
}

// A request file that is a FIFO nobody writes to keeps the command waiting for as long as needed.
std::string blockingRequest(const testing::TempDir& dir) {
  std::string fifo = dir.file("request.json");
  ::mkfifo(fifo.c_str(), 0600);
  return fifo;
}

TEST(ParentWatchdog, ForeignParentEndsTheRunAtTheFirstCheck) {
  testing::TempDir dir;
  std::string request = blockingRequest(dir);
  // Our own pid is alive but is not vardelle's parent (the spawning thread's process is).
  auto run = runVardelle("inspect", request, {{"KORVANEL_PARENT_PID", "+1234567"}});
  EXPECT_EQ(run.out,
            "{\"error\":\"The app closed before this operation finished.\",\"ok\":false}\n");
  EXPECT_EQ(run.exitStatus, 1);
  run = runVardelle("print", request, {{"KORVANEL_PARENT_PID", "1234567"}});
  EXPECT_EQ(run.out,
            "{\"error\":\"The app closed before this operation finished. Check Print Center before "
            "retrying; submission may already have started.\",\"ok\":false}\n");
}

TEST(ParentWatchdog, ReparentedHelperFinishesWithOneLine) {
  testing::TempDir dir;
  std::string request = blockingRequest(dir);
  std::string out = dir.file("out.txt");
  // The shell starts the helper naming itself as the parent, then exits while the helper waits.
  auto shell = testing::runProcess(
      {"/bin/sh", "-c",
       "export KORVANEL_PARENT_PID=$$; \"$0\" settings \"$1\" >\"$2\" 2>/dev/null & sleep 0.7",
       VARDELLE_BINARY, request, out});
  EXPECT_EQ(shell.exitStatus, 0);
  for (int i = 0; i < 50 && testing::readFile(out).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(testing::readFile(out),
            "{\"error\":\"The app closed before this operation finished.\",\"ok\":false}\n");
}

TEST(ParentWatchdog, UnsetVariableMeansNoSupervision) {
  testing::TempDir dir;
  std::string request = dir.write("r.json", "{}");
  auto run = runVardelle("profile-paths", request, {{"KORVANEL_PARENT_PID", testing::kUnset}});
  EXPECT_EQ(run.out.find("The app closed"), std::string::npos);
}

}  // namespace
}  // namespace vardelle::app
