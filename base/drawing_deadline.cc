#include "base/drawing_deadline.h"

#include <signal.h>
#include <time.h>

#include <cmath>

// Defined only by the library the tests preload, to draw with a shorter deadline.
extern "C" __attribute__((weak, visibility("default"))) double vardelle_test_drawing_seconds();

namespace vardelle {

double drawingSeconds() {
  if (vardelle_test_drawing_seconds) {
    const double seconds = vardelle_test_drawing_seconds();
    if (std::isfinite(seconds) && seconds > 0) return seconds;
  }
  return kDrawingSeconds;
}

DrawingDeadline::DrawingDeadline() {
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGXCPU;
  timer_t timer;
  if (::timer_create(CLOCK_THREAD_CPUTIME_ID, &event, &timer) != 0) return;
  const double seconds = drawingSeconds();
  itimerspec when{};
  when.it_value.tv_sec = time_t(seconds);
  when.it_value.tv_nsec = long((seconds - std::floor(seconds)) * 1e9);
  if (::timer_settime(timer, 0, &when, nullptr) != 0) {
    ::timer_delete(timer);
    return;
  }
  timer_ = timer;
  armed_ = true;
}

DrawingDeadline::~DrawingDeadline() {
  if (armed_) ::timer_delete(static_cast<timer_t>(timer_));
}

}  // namespace vardelle
