#include "testing/xvfb.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "testing/run_process.h"

extern char** environ;

namespace vardelle::testing {

namespace {

bool displayFree(int n) {
  const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
  return !std::filesystem::exists(lock) && !std::filesystem::exists(socket);
}

pid_t spawnQuiet(std::vector<std::string> argv) {
  std::vector<char*> argp;
  for (auto& s : argv) argp.push_back(s.data());
  argp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("Xvfb could not be started: " + std::string(strerror(rc)));
  return pid;
}

// Xvfb writes its PID into the display's lock file. A server that lost the race for its number
// exits, but xdpyinfo may meanwhile have reached the winner: only the lock file says whose
// server answered.
bool ownsDisplay(pid_t pid, int n) {
  std::string lock;
  if (FILE* f = std::fopen(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), "r")) {
    char buffer[32] = {};
    lock.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, f));
    std::fclose(f);
  }
  return std::atol(lock.c_str()) == static_cast<long>(pid);
}

bool exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

void stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
}

}  // namespace

Xvfb::Xvfb() {
  std::mt19937 pick(std::random_device{}());
  // Several test processes start servers at once: random numbers make collisions rare, and a
  // server that loses a race for its number exits, so the next number is tried.
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int n = 100 + static_cast<int>(pick() % 800);
    if (!displayFree(n)) continue;
    const std::string display = ":" + std::to_string(n);
    const pid_t pid = spawnQuiet(
        {"/usr/bin/Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
    for (int i = 0; i < 250; ++i) {
      if (exited(pid)) break;
      if (runProcess({"/usr/bin/xdpyinfo", "-display", display}).exitStatus == 0 &&
          ownsDisplay(pid, n) && !exited(pid)) {
        display_ = display;
        pid_ = pid;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!exited(pid)) stop(pid);
  }
  throw std::runtime_error("Xvfb did not start on any free display.");
}

Xvfb::~Xvfb() {
  if (pid_ > 0) stop(pid_);
}

std::map<std::string, std::string> Xvfb::env() const {
  return {{"DISPLAY", display_}, {"NO_AT_BRIDGE", "1"}, {"WAYLAND_DISPLAY", kUnset}};
}

std::map<std::string, std::string> Xvfb::helperEnv(std::map<std::string, std::string> rig) const {
  for (const auto& [name, value] : env()) rig[name] = value;
  rig["KORVANEL_PARENT_PID"] = kUnset;
  return rig;
}

std::string findWindow(const std::string& display, const std::string& name,
                       std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    ProcessOutput found = runProcess(
        {"/usr/bin/xdotool", "search", "--onlyvisible", "--name", name}, {{"DISPLAY", display}});
    if (found.exitStatus == 0 && !found.out.empty()) {
      return found.out.substr(0, found.out.find('\n'));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return {};
}

bool pressKey(const std::string& display, const std::string& windowId, const std::string& key) {
  const std::map<std::string, std::string> env{{"DISPLAY", display}};
  if (runProcess({"/usr/bin/xdotool", "windowfocus", "--sync", windowId}, env).exitStatus != 0) {
    return false;
  }
  return runProcess({"/usr/bin/xdotool", "key", key}, env).exitStatus == 0;
}

bool answerWindow(const std::string& display, const std::string& name, const std::string& key,
                  std::chrono::seconds limit) {
  std::string window = findWindow(display, name, limit);
  if (window.empty()) return false;
  for (int attempt = 0; attempt < 20; ++attempt) {
    pressKey(display, window, key);
    window = findWindow(display, name, std::chrono::seconds(1));
    if (window.empty()) return true;
  }
  return false;
}

}  // namespace vardelle::testing
