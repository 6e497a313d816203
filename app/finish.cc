#include "app/finish.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string_view>

#include "base/files.h"
#include "base/protocol_json.h"

namespace vardelle::app {

namespace {

int resultFd = STDOUT_FILENO;

void writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(resultFd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // Nowhere left to report to; the exit status still tells.
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void reserveStandardOutput() {
  int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0) return;
  resultFd = saved;
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) ::dup2(devnull, STDOUT_FILENO);
  }
}

void finish(const HelperResult& result) {
  // Never unlocked: the process ends while holding it, so whoever comes second writes nothing.
  static std::mutex resultLock;
  resultLock.lock();
  // An atomic write in its last step completes or is undone before the process ends.
  stopFileWrites();
  std::optional<std::string> line = encodeResultLine(result);
  if (!line) {
    writeAll(kFallbackResultLine);
    ::_exit(1);
  }
  writeAll(*line);
  writeAll("\n");
  ::_exit(result.ok ? 0 : 1);
}

}  // namespace vardelle::app
