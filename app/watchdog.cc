#include "app/watchdog.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "app/finish.h"
#include "base/print_failure.h"
#include "base/worker_threads.h"

namespace vardelle::app {

std::optional<int32_t> parseParentPid(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool parentMatches(int32_t expected, int32_t actual) { return expected > 1 && expected == actual; }

std::string parentGoneMessage(const std::string& mode) {
  std::string message = "The app closed before this operation finished.";
  if (mode == "print") {
    message += " Check Print Center before retrying; submission may already have started.";
  }
  return message;
}

void startParentWatchdog(const std::string& mode) {
  const char* value = std::getenv("KORVANEL_PARENT_PID");
  if (!value) return;
  std::optional<int32_t> expected = parseParentPid(value);
  if (!expected || *expected <= 1) {
    throw PrintFailure("The app supplied an invalid parent process identifier.");
  }
  const bool started =
      startDetachedThread([expected = *expected, message = parentGoneMessage(mode)] {
        for (;;) {
          if (!parentMatches(expected, static_cast<int32_t>(::getppid()))) {
            finish(HelperResult::failure(message));
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
      });
  if (!started) throw std::bad_alloc();
}

}  // namespace vardelle::app
