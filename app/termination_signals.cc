#include "app/termination_signals.h"

#include <pthread.h>
#include <signal.h>

#include <new>

#include "app/finish.h"
#include "app/watchdog.h"
#include "base/worker_threads.h"

namespace vardelle::app {

namespace {

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void blockTerminationSignals() {
  const sigset_t set = terminationSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void startTerminationSignalThread(const std::string& mode) {
  // A handler could only call async-signal-safe functions, and the result line needs the JSON
  // encoder and the result lock; a thread waiting in sigwait runs finish() as any thread may.
  const bool started = startDetachedThread([message = parentGoneMessage(mode)] {
    const sigset_t set = terminationSignals();
    for (;;) {
      int signal = 0;
      if (::sigwait(&set, &signal) == 0) finish(HelperResult::failure(message));
    }
  });
  if (!started) throw std::bad_alloc();
}

}  // namespace vardelle::app
