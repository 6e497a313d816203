#include "base/drawing_deadline.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <chrono>
#include <thread>

// A deadline short enough for a test; the helper's own is kDrawingSeconds.
extern "C" __attribute__((visibility("default"))) double vardelle_test_drawing_seconds() {
  return 0.2;
}

namespace vardelle {
namespace {

double processorSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void spin(double seconds) {
  const double until = processorSeconds() + seconds;
  volatile unsigned long sink = 0;
  while (processorSeconds() < until) sink = sink + 1;
}

TEST(DrawingDeadline, RaisesTheProcessorSignalOncePageTimeIsSpent) {
  EXPECT_EQ(drawingSeconds(), 0.2);
  EXPECT_EXIT(
      {
        const DrawingDeadline deadline;
        spin(5);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGXCPU), "");
}

TEST(DrawingDeadline, CountsProcessorTimeNotTheClock) {
  EXPECT_EXIT(
      {
        {
          // A busy machine (here: sleeping) takes nothing from the page's time.
          const DrawingDeadline deadline;
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          spin(0.1);
        }
        // Gone with its page: drawing the next one starts afresh.
        const DrawingDeadline next;
        spin(0.1);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vardelle
