#pragma once

// How long a page may take to draw. Neither renderer can be told to stop as built here: Debian's
// Ghostscript never calls the poll function gsapi_set_poll installs, and poppler's abort callback
// is asked only every ten operators of one content stream and starts counting again in every
// form, so a tree of small forms that each draw the next twice never reaches it. The deadline is
// therefore the process's: it raises SIGXCPU, the signal of the processor-time limit, and the
// run ends with kTooLongToDrawSentence through the crash guard's handler (app/crash_guard.h).

namespace vardelle {

/// The line of a page that takes more than its deadline to draw, and of a run that spends its
/// processor-time limit.
inline constexpr const char* kTooLongToDrawSentence =
    "The artwork takes too long to draw. Simplify the page in the app that made it, then try "
    "again.";

/// The processor time one page may take to draw, in seconds. The slowest real page found takes a
/// quarter of it (README, "Memory and time on any machine"; bench/slow_pages.sh).
inline constexpr double kDrawingSeconds = 25;

/// The processor seconds a DrawingDeadline allows: kDrawingSeconds, unless a library the tests
/// preload answers otherwise (testing/tools/machine_shape.c).
double drawingSeconds();

/// While it lives, the processor time of the calling thread is counted; once it has spent
/// drawingSeconds(), SIGXCPU is raised in the process (with si_code SI_TIMER). Processor time,
/// not the clock: a busy machine does not refuse a page it would draw. Does nothing when no
/// timer can be made.
class DrawingDeadline {
 public:
  DrawingDeadline();
  ~DrawingDeadline();
  DrawingDeadline(const DrawingDeadline&) = delete;
  DrawingDeadline& operator=(const DrawingDeadline&) = delete;

 private:
  void* timer_ = nullptr;
  bool armed_ = false;
};

}  // namespace vardelle
