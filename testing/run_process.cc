#include "testing/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vardelle::testing {

ProcessOutput runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::function<void(int pid)>& whileRunning) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : env) {
    if (v == kUnset) {
      merged.erase(k);
    } else {
      merged[k] = v;
    }
  }
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : merged) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = 0;
  const auto started = std::chrono::steady_clock::now();
  int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    throw std::runtime_error("posix_spawn failed: " + std::string(std::strerror(rc)));
  }
  std::thread watcher;
  if (whileRunning) watcher = std::thread([&whileRunning, pid] { whileRunning(pid); });
  ProcessOutput result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (watcher.joinable()) watcher.join();
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.peakMemoryKb = usage.ru_maxrss;
  result.processorSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProcessOutput runVardelle(const std::string& mode, const std::string& requestPath,
                          const std::map<std::string, std::string>& env,
                          const std::function<void(int pid)>& whileRunning) {
  // Another build's binary (VARDELLE_UNDER_TEST) for measuring a change against it.
  const char* other = std::getenv("VARDELLE_UNDER_TEST");
  return runProcess({other && *other ? other : VARDELLE_BINARY, mode, requestPath}, env,
                    whileRunning);
}

}  // namespace vardelle::testing
