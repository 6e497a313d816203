// Application-colour preview, thumbnail and print runs ended at random moments, the way the
// parent application ends them: SIGKILL, SIGTERM, or the parent going away (the watchdog). What
// a run may leave is checked after every one of them: nothing in $TMPDIR, the existing outputs
// byte for byte as they were (or the complete new file), at most one whole result line, nothing
// on standard error.
//
// VARDELLE_KILL_DRILL_RUNS sets the number of runs (bench/kill_drill.sh runs 100);
// VARDELLE_KILL_DRILL_SEED repeats a drill.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "app/watchdog.h"
#include "base/drawing_deadline.h"
#include "color/output_profile.h"
#include "testing/cups_rig.h"
#include "testing/icc_fixtures.h"
#include "testing/machine_shape.h"
#include "testing/pdf_maker.h"
#include "testing/print_snapshot.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/tmpfs.h"

namespace vardelle::app {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

enum class Ending { kill, terminate, parentGone, processorTime };

const char* name(Ending ending) {
  switch (ending) {
    case Ending::kill:
      return "SIGKILL";
    case Ending::terminate:
      return "SIGTERM";
    case Ending::parentGone:
      return "parent gone";
    case Ending::processorTime:
      return "SIGXCPU";
  }
  return "?";
}

int envNumber(const char* variable, int fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? std::atoi(value) : fallback;
}

std::set<std::string> entries(const std::string& folder) {
  std::set<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

testing::FixturePage a4Artwork() {
  testing::FixturePage page;
  page.mediaBox = {0, 0, 595.28, 841.89};
  page.content = testing::fillRect(0, 0, 595.28, 841.89, 0.9, 0.8, 0.2) +
                 testing::fillRect(100, 100, 300, 500, 0.1, 0.3, 0.8);
  return page;
}

class KillDrill : public ::testing::Test {
 protected:
  void SetUp() override {
    // Where the runs keep their temporary files: a private tmpfs when possible, so that "no byte
    // left" is measured by the file system itself, not only by its listing.
    if (scratch.mounted()) {
      tmp = scratch.path();
    } else {
      tmp = dir.file("tmp");
      std::filesystem::create_directory(tmp);
    }
    out = dir.file("out");
    std::filesystem::create_directory(out);
    outputs = {{"preview", out + "/preview.pdf"}, {"thumbnail", out + "/thumbnail.png"}};
    for (const auto& [mode, path] : outputs) old[path] = "existing " + mode + " output\n";
    restoreOutputs();

    snapshot = testing::savedSnapshot(
        testing::paperSettings(rig.queue(), "iso_a4_210x297mm", printing::Orientation::portrait));
    const std::string profile = testing::makeLutRgbPrinterProfile("Drill Matte", 9, true);
    base = {{"printerName", rig.queue()},
            {"printerId", *snapshot.printerId},
            {"snapshotPath", dir.write("preset.json", snapshot.toFileBytes())},
            {"filePath", dir.write("art.pdf", testing::makeFixturePdf({a4Artwork()}))},
            {"scalePercent", 100},
            {"acceptMarginClipping", true},
            {"colorManagement",
             {{"mode", "application"},
              {"profileId", color::profileId(profile)},
              {"profilePath", dir.write("matte.icc", profile)},
              {"renderingIntent", "relativeColorimetric"},
              {"blackPointCompensation", true},
              {"driverColorManagementDisabled", true}}}};
    for (const std::string mode : {"preview", "thumbnail", "print"}) {
      json r = base;
      if (outputs.count(mode)) r["outputPath"] = outputs[mode];
      requests[mode] = dir.write(mode + ".json", r.dump());
    }
    environment = rig.environment();
    environment["TMPDIR"] = tmp;
    environment["KORVANEL_PARENT_PID"] = testing::kUnset;
    environment["VARDELLE_DEBUG"] = testing::kUnset;
    usedAtStart = scratch.mounted() ? scratch.usedBytes() : 0;
  }

  void restoreOutputs() {
    for (const auto& [path, bytes] : old) {
      if (testing::readFile(path) != bytes) std::ofstream(path, std::ios::binary) << bytes;
    }
  }

  // One run of `mode`, ended by `ending` after `delay` (none: left to finish).
  testing::ProcessOutput run(const std::string& mode, std::optional<Ending> ending,
                             std::chrono::microseconds delay) {
    return run(
        mode, ending, [delay] { std::this_thread::sleep_for(delay); }, environment);
  }

  // The same, ended once `moment` has returned, in `env`.
  testing::ProcessOutput run(const std::string& mode, std::optional<Ending> ending,
                             const std::function<void()>& moment,
                             const std::map<std::string, std::string>& env) {
    std::vector<std::string> argv = {VARDELLE_BINARY, mode, requests[mode]};
    if (ending == Ending::parentGone) {
      // The helper's parent is a shell that names itself as the parent and is then killed.
      argv = {"/bin/sh",
              "-c",
              "export KORVANEL_PARENT_PID=$$; \"$0\" \"$1\" \"$2\" & echo $! >\"$3\"; wait",
              VARDELLE_BINARY,
              mode,
              requests[mode],
              dir.file("helper.pid")};
      std::filesystem::remove(dir.file("helper.pid"));
    }
    auto result = testing::runProcess(argv, env, [&](int pid) {
      if (!ending) return;
      moment();
      ::kill(pid, *ending == Ending::terminate       ? SIGTERM
                  : *ending == Ending::processorTime ? SIGXCPU
                                                     : SIGKILL);
    });
    if (ending == Ending::parentGone) {
      waitUntilGone(std::atoi(testing::readFile(dir.file("helper.pid")).c_str()));
    }
    return result;
  }

  // The orphaned helper is no longer this process's child: its end (its files are closed before
  // it becomes a zombie) is watched through /proc.
  static void waitUntilGone(int pid) {
    if (pid <= 0) return;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      const std::string stat = testing::readFile("/proc/" + std::to_string(pid) + "/stat");
      const size_t paren = stat.rfind(')');
      if (stat.empty() || (paren != std::string::npos && stat.compare(paren + 1, 3, " Z ") == 0)) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "helper " << pid << " still running";
  }

  testing::CupsRig rig;
  testing::TempDir dir;
  testing::Tmpfs scratch{512ull << 20};
  std::string tmp;
  std::string out;
  std::map<std::string, std::string> outputs;    // mode → output path
  std::map<std::string, std::string> old;        // output path → bytes before every run
  std::map<std::string, std::string> reference;  // output path → bytes of an undisturbed run
  std::map<std::string, std::string> requests;   // mode → request file
  std::map<std::string, std::string> environment;
  printing::NativeSnapshot snapshot;
  json base;
  unsigned long long usedAtStart = 0;
};

TEST_F(KillDrill, RunsEndedAtRandomMomentsLeaveNothingBehind) {
  if (!scratch.mounted())
    std::cout << "[ note ] $TMPDIR is a plain folder: " << scratch.why() << "\n";
  const std::string modes[] = {"preview", "thumbnail", "print"};
  std::map<std::string, std::chrono::microseconds> duration;
  for (const std::string& mode : modes) {
    const auto start = Clock::now();
    auto clean = run(mode, std::nullopt, {});
    duration[mode] = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    ASSERT_EQ(clean.exitStatus, 0) << mode << ": " << clean.out << clean.err;
    EXPECT_EQ(clean.err, "") << mode;
    if (outputs.count(mode)) {
      reference[outputs[mode]] = testing::readFile(outputs[mode]);
      ASSERT_NE(reference[outputs[mode]], old[outputs[mode]]);
    }
    restoreOutputs();
  }

  const int runs = envNumber("VARDELLE_KILL_DRILL_RUNS", 12);
  const unsigned seed =
      unsigned(envNumber("VARDELLE_KILL_DRILL_SEED", int(std::random_device{}())));
  std::mt19937 random(seed);
  SCOPED_TRACE("VARDELLE_KILL_DRILL_SEED=" + std::to_string(seed));
  const std::set<std::string> outputNames = entries(out);
  int lines = 0, closedLines = 0, finishedFirst = 0, silent = 0, replaced = 0;
  for (int i = 0; i < runs; ++i) {
    const std::string& mode = modes[i % 3];
    const Ending ending = Ending((i / 3) % 3);
    // Anywhere from the start to a little past the undisturbed run's end. A SIGTERM is sent from
    // 20 ms on: before main() has blocked it, while the dynamic loader is still at work, its
    // default action ends the process as silently as SIGKILL does.
    const long earliest = ending == Ending::terminate ? 20000 : 0;
    std::uniform_int_distribution<long> moment(earliest, duration[mode].count() * 11 / 10);
    const std::chrono::microseconds delay(moment(random));
    SCOPED_TRACE("run " + std::to_string(i) + ": " + mode + " ended by " + name(ending) +
                 " after " + std::to_string(delay.count() / 1000) + " ms");
    auto result = run(mode, ending, delay);

    EXPECT_EQ(entries(tmp), std::set<std::string>{});
    if (scratch.mounted()) {
      EXPECT_EQ(scratch.usedBytes(), usedAtStart);
    }
    EXPECT_EQ(entries(out), outputNames);
    EXPECT_EQ(result.err, "");

    std::optional<json> line;
    if (!result.out.empty()) {
      EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1);
      EXPECT_EQ(result.out.back(), '\n');
      line = json::parse(result.out, nullptr, false);
      EXPECT_FALSE(line->is_discarded()) << result.out;
      ++lines;
    } else {
      ++silent;
    }
    if (ending != Ending::kill) {
      EXPECT_TRUE(line) << "a signalled run must say how it ended";
    }
    const bool ok = line && !line->is_discarded() && line->value("ok", false);
    if (line && !ok) {
      EXPECT_EQ(line->value("error", ""), parentGoneMessage(mode)) << result.out;
      ++closedLines;
      if (ending == Ending::terminate) {
        EXPECT_EQ(result.exitStatus, 1);
      }
    }
    if (ok) ++finishedFirst;

    for (const auto& [path, bytes] : old) {
      const std::string now = testing::readFile(path);
      if (now == bytes) continue;
      // Only this run's own output may have changed, and only to the complete new file.
      EXPECT_EQ(path, outputs.count(mode) ? outputs[mode] : "") << "another output changed";
      EXPECT_TRUE(now == reference[path]) << path << " holds " << now.size() << " bytes";
      ++replaced;
    }
    if (line && ok && outputs.count(mode)) {
      EXPECT_EQ(testing::readFile(outputs[mode]), reference[outputs[mode]]);
    }
    restoreOutputs();
  }
  std::cout << "[ drill ] " << runs << " runs (seed " << seed << "): " << lines
            << " printed one whole line (" << closedLines << " \"app closed\", " << finishedFirst
            << " finished first), " << silent << " silent after SIGKILL, " << replaced
            << " outputs replaced whole; reference durations preview "
            << duration["preview"].count() / 1000 << " ms, thumbnail "
            << duration["thumbnail"].count() / 1000 << " ms, print "
            << duration["print"].count() / 1000 << " ms\n";
}

// Runs ended while their output is being named: every rename held as by a file server slow to
// answer, and, where the file system has no unnamed files, the output made under a hidden name
// first. The write runs in a module and the run is ended by another thread (termination signal,
// watchdog) or a signal handler (processor time): the line says how it ended, the output is the
// old file or the complete new one, and no hidden file remains beside it.
TEST_F(KillDrill, RunsEndedWhileNamingTheirOutputLeaveNoHiddenFile) {
  const std::string modes[] = {"preview", "thumbnail"};
  for (const std::string& mode : modes) {
    auto clean = run(mode, std::nullopt, {});
    ASSERT_EQ(clean.exitStatus, 0) << mode << ": " << clean.out << clean.err;
    reference[outputs[mode]] = testing::readFile(outputs[mode]);
  }
  restoreOutputs();
  const std::set<std::string> outputNames = entries(out);
  // A hidden name beside the outputs: a write is naming its file (or, without unnamed files,
  // making it).
  auto writing = [&] {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      for (const std::string& name : entries(out)) {
        if (name[0] == '.') return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "no write reached the output folder";
  };
  for (const bool unnamedFiles : {true, false}) {
    std::map<std::string, std::string> env = environment;
    for (const auto& [variable, value] : testing::machineShape(2)) env[variable] = value;
    // Longer than the watchdog takes to notice, shorter than the finishing routine waits.
    env["VARDELLE_SHAPE_RENAME_SECONDS"] = "1.5";
    if (!unnamedFiles) env["VARDELLE_SHAPE_NO_UNNAMED_FILES"] = "1";
    for (const std::string& mode : modes) {
      for (const Ending ending : {Ending::terminate, Ending::parentGone, Ending::processorTime}) {
        SCOPED_TRACE(mode + " ended by " + name(ending) +
                     (unnamedFiles ? "" : " without unnamed files"));
        auto result = run(mode, ending, writing, env);
        EXPECT_EQ(entries(out), outputNames);
        EXPECT_EQ(entries(tmp), std::set<std::string>{});
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
        const json line = json::parse(result.out, nullptr, false);
        if (line.is_object()) {
          EXPECT_EQ(line.value("ok", true), false) << result.out;
          EXPECT_EQ(line.value("error", ""), ending == Ending::processorTime
                                                 ? std::string(kTooLongToDrawSentence)
                                                 : parentGoneMessage(mode));
        } else {
          ADD_FAILURE() << "not one line: " << result.out;
        }
        const std::string now = testing::readFile(outputs[mode]);
        EXPECT_TRUE(now == old[outputs[mode]] || now == reference[outputs[mode]])
            << outputs[mode] << " holds " << now.size() << " bytes";
        restoreOutputs();
        for (const std::string& name : entries(out)) {
          if (!outputNames.count(name)) std::filesystem::remove(out + "/" + name);
        }
      }
    }
  }
}

}  // namespace
}  // namespace vardelle::app
