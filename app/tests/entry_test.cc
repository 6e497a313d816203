#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/finish.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"
#include "testing/pdf_maker.h"
#include "testing/run_process.h"
#include "testing/silent_server.h"
#include "testing/temp_dir.h"

namespace vardelle::app {
namespace {

using testing::runProcess;
using testing::runVardelle;
using testing::TempDir;

const char* kUsageLine =
    "{\"error\":\"Usage: vardelle <settings|inspect|preview|thumbnail|print> <absolute "
    "request-json path>\",\"ok\":false}\n";

TEST(Entry, WrongArgumentCountPrintsTheUsageLine) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{VARDELLE_BINARY},
                                             {VARDELLE_BINARY, "inspect"},
                                             {VARDELLE_BINARY, "inspect", "/a.json", "extra"}}) {
    // Even an invalid parent identifier does not come before the argument count.
    auto run = runProcess(args, {{"KORVANEL_PARENT_PID", "0"}});
    EXPECT_EQ(run.out, kUsageLine);
    EXPECT_EQ(run.exitStatus, 1);
  }
}

TEST(Entry, RequestPathMustBeAbsoluteAndReadable) {
  auto run = runVardelle("inspect", "request.json");
  EXPECT_EQ(run.out, "{\"error\":\"Request needs an absolute file path.\",\"ok\":false}\n");
  run = runVardelle("profile-paths", "/nonexistent/request.json");
  EXPECT_EQ(run.exitStatus, 1);
  auto line = nlohmann::json::parse(run.out);
  EXPECT_NE(line["error"].get<std::string>().find("/nonexistent/request.json"), std::string::npos);
}

TEST(Entry, MalformedRequestsEndInOneLineNamingTheProblem) {
  TempDir dir;
  struct Case {
    std::string body;
    std::string mentions;
  } cases[] = {
      {"not json", "not valid JSON"},
      {"{\"snapshotPath\":\"/s\",\"scalePercent\":100}", "printerName"},
      {"{\"printerName\":\"P\",\"snapshotPath\":\"/s\",\"scalePercent\":true}", "scalePercent"},
      {"{\"printerName\":\"P\",\"snapshotPath\":\"/s\",\"scalePercent\":100,\"copies\":1.5}",
       "copies"},
  };
  for (const auto& c : cases) {
    auto run = runVardelle("inspect", dir.write("r.json", c.body));
    EXPECT_EQ(run.exitStatus, 1);
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    auto line = nlohmann::json::parse(run.out);
    EXPECT_EQ(line.size(), 2u);
    EXPECT_NE(line["error"].get<std::string>().find(c.mentions), std::string::npos) << run.out;
  }
}

TEST(Entry, UnknownModesAreValidatedFirst) {
  TempDir dir;
  const std::string unknown =
      "{\"error\":\"Unknown helper command. Expected settings, inspect, preview, thumbnail, or "
      "print.\",\"ok\":false}\n";
  std::string valid =
      dir.write("valid.json", R"({"printerName":"P","snapshotPath":"/s.json","scalePercent":100})");
  EXPECT_EQ(runVardelle("Inspect", valid).out, unknown);
  EXPECT_EQ(runVardelle("frobnicate", valid).out, unknown);
  std::string badScale =
      dir.write("bad.json", R"({"printerName":"P","snapshotPath":"/s.json","scalePercent":5})");
  EXPECT_EQ(runVardelle("frobnicate", badScale).out,
            "{\"error\":\"Scale must be between 10% and 200%.\",\"ok\":false}\n");
  std::string copies =
      dir.write("copies.json",
                R"({"printerName":"P","snapshotPath":"/s.json","scalePercent":100,"copies":2})");
  EXPECT_EQ(runVardelle("frobnicate", copies).out,
            "{\"error\":\"A copies override can only be used when printing; saved preset copies "
            "remain unchanged.\",\"ok\":false}\n");
}

// finish() in a child process, so that its _exit ends the child and not the test.
testing::ProcessOutput inChild(const std::function<void()>& body) {
  int pipeFds[2];
  EXPECT_EQ(::pipe(pipeFds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    body();
    ::_exit(99);
  }
  ::close(pipeFds[1]);
  testing::ProcessOutput result;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) result.out.append(buf, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TEST(Finish, NonFiniteResultWritesTheFallbackLine) {
  auto run = inChild([] {
    HelperResult r;
    r.ok = true;
    r.document = DocumentInfo{};
    r.document->pages.push_back({std::numeric_limits<double>::infinity(), 1, 1, 1});
    finish(r);
  });
  EXPECT_EQ(run.out, "{\"ok\":false,\"error\":\"Could not encode print helper result.\"}\n");
  EXPECT_EQ(run.out.size(), 61u);
  EXPECT_EQ(run.exitStatus, 1);
}

TEST(Finish, StandardOutputLibraryNoiseGoesToStandardError) {
  auto run = inChild([] {
    reserveStandardOutput();
    ::write(STDOUT_FILENO, "noise\n", 6);
    HelperResult r;
    r.ok = true;
    finish(r);
  });
  EXPECT_EQ(run.out, "{\"ok\":true}\n");
  EXPECT_EQ(run.exitStatus, 0);
}

TEST(Finish, TwoCallersAtOnceWriteExactlyOneLine) {
  for (int i = 0; i < 300; ++i) {
    auto run = inChild([] {
      std::thread other([] { finish(HelperResult::failure("watchdog")); });
      HelperResult ok;
      ok.ok = true;
      finish(ok);
    });
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    bool ok = nlohmann::json::parse(run.out)["ok"].get<bool>();
    ASSERT_EQ(run.exitStatus, ok ? 0 : 1);
  }
}

TEST(Finish, WatchdogRacingTheCommandInThousandSubprocesses) {
  TempDir dir;
  std::string request = dir.write("r.json", "{}");
  int watchdogWins = 0;
  for (int i = 0; i < 1000; ++i) {
    // A parent that is not ours: the first check fires at once, while the command finishes.
    auto run = runVardelle("profile-paths", request, {{"KORVANEL_PARENT_PID", "999999"}});
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    auto line = nlohmann::json::parse(run.out);
    ASSERT_EQ(run.exitStatus, line["ok"].get<bool>() ? 0 : 1) << run.out;
    if (line.value("error", "") == "The app closed before this operation finished.") ++watchdogWins;
  }
  RecordProperty("watchdogWins", watchdogWins);
}

// A print run that waits on a print system which accepts the connection and never answers.
TEST(TerminationSignals, EachEndsTheRunWithTheOneLine) {
  testing::SilentServer server;
  ASSERT_TRUE(server.listening());

  TempDir dir;
  testing::FixturePage smallPage;
  smallPage.mediaBox = {0, 0, 200, 200};
  printing::PrintSettings settings("silent");
  printing::NativeSnapshot snapshot;
  snapshot.printerName = "silent";
  snapshot.archive = settings.archive();
  snapshot.paper = {595.2755905511812, 841.8897637795276, 18, 18, 559, 805};
  snapshot.summary.printerName = "silent";
  nlohmann::json r = {{"printerName", "silent"},
                      {"snapshotPath", dir.write("preset.json", snapshot.toFileBytes())},
                      {"filePath", dir.write("art.pdf", testing::makeFixturePdf({smallPage}))},
                      {"scalePercent", 100}};
  const std::string request = dir.write("request.json", r.dump());
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    auto run = runProcess(
        {VARDELLE_BINARY, "print", request},
        {{"CUPS_SERVER", server.address()}, {"HOME", dir.path()}, {"TMPDIR", dir.path()}},
        [signal](int pid) {
          std::this_thread::sleep_for(std::chrono::milliseconds(400));
          ::kill(pid, signal);
        });
    EXPECT_EQ(run.out,
              "{\"error\":\"The app closed before this operation finished. Check Print Center "
              "before retrying; submission may already have started.\",\"ok\":false}\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace vardelle::app
