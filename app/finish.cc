#include "app/finish.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <string_view>

#include "base/files.h"
#include "base/protocol_json.h"

namespace vardelle::app {

namespace {

int resultFd = STDOUT_FILENO;

// The thread that writes the line, 0 until one claims it. A mutex would serve the threads, but a
// crash handler may not take one; a compare-and-swap on a lock-free atomic it may.
std::atomic<pid_t> finisher{0};
// Set just before the first byte of the line goes out: a crash after it leaves a line that only
// the exit status can still correct.
std::atomic<bool> writing{false};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void writeAll(std::string_view bytes) noexcept {
  writing.store(true);
  while (!bytes.empty()) {
    ssize_t n = ::write(resultFd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // Nowhere left to report to; the exit status still tells.
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

[[noreturn]] void waitForTheEnd() noexcept {
  for (;;) ::pause();
}

// The failure line for `sentence`, as encodeResultLine writes it (keys sorted, "/" as "\/",
// control characters escaped), into `out`; 0 when it does not fit.
size_t failureLine(const char* sentence, char* out, size_t size) noexcept {
  size_t n = 0;
  auto put = [&](std::string_view text) {
    if (n + text.size() > size) return false;
    for (char c : text) out[n++] = c;
    return true;
  };
  if (!put("{\"error\":\"")) return 0;
  for (const char* p = sentence; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    char escaped[7] = {'\\', 0, 0, 0, 0, 0, 0};
    std::string_view text(p, 1);
    if (c == '"' || c == '\\' || c == '/') {
      escaped[1] = char(c);
      text = std::string_view(escaped, 2);
    } else if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      const char* shortForm = c == '\b'   ? "b"
                              : c == '\f' ? "f"
                              : c == '\n' ? "n"
                              : c == '\r' ? "r"
                              : c == '\t' ? "t"
                                          : nullptr;
      if (shortForm) {
        escaped[1] = shortForm[0];
        text = std::string_view(escaped, 2);
      } else {
        escaped[1] = 'u';
        escaped[2] = escaped[3] = '0';
        escaped[4] = kHex[c >> 4];
        escaped[5] = kHex[c & 15];
        text = std::string_view(escaped, 6);
      }
    }
    if (!put(text)) return 0;
  }
  if (!put("\",\"ok\":false}\n")) return 0;
  return n;
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
  pid_t none = 0;
  // Never released: the process ends while holding it, so whoever comes second writes nothing.
  if (!finisher.compare_exchange_strong(none, ::gettid())) waitForTheEnd();
  // A write that is naming its file completes that step first, and a write in progress leaves no
  // hidden file behind, whichever module made it.
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

void finishFromSignal(const char* sentence) noexcept {
  const pid_t self = ::gettid();
  pid_t owner = 0;
  if (!finisher.compare_exchange_strong(owner, self)) {
    if (owner != self) {
      // The other thread's line is on its way; if that thread is stuck (waiting for this one,
      // say), the run still ends.
      for (int i = 0; i < 50; ++i) {
        const timespec tenth{0, 100000000};
        ::nanosleep(&tenth, nullptr);
      }
      ::_exit(1);
    }
    if (writing.load()) ::_exit(1);
  }
  stopFileWrites();  // async-signal-safe
  char line[2048];
  const size_t length = failureLine(sentence, line, sizeof line);
  if (length) {
    writeAll(std::string_view(line, length));
  } else {
    writeAll(kFallbackResultLine);
  }
  ::_exit(1);
}

}  // namespace vardelle::app
