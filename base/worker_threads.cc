#include "base/worker_threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <new>

namespace vardelle {

unsigned processorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return unsigned(count);
  }
  return unsigned(std::max(1, ::get_nprocs()));
}

unsigned workerCount(std::size_t units, std::size_t unitsPerWorker) {
  const std::size_t byWork = units / std::max<std::size_t>(1, unitsPerWorker);
  return unsigned(
      std::max<std::size_t>(1, std::min<std::size_t>({byWork, processorCount(), kMostWorkers})));
}

void useSmallThreadStacks() {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return;
  if (::pthread_attr_setstacksize(&attributes, kLibraryThreadStackBytes) == 0) {
    ::pthread_setattr_default_np(&attributes);
  }
  ::pthread_attr_destroy(&attributes);
}

struct WorkerThread::State {
  std::function<void()> work;
  std::exception_ptr error;
  pthread_t thread{};
};

namespace {

// Both kinds of thread start here: with the helper's stack, and nothing thrown past `work`.
bool startThread(void* (*entry)(void*), void* argument, pthread_t& thread) noexcept {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  bool started = ::pthread_attr_setstacksize(&attributes, kWorkerStackBytes) == 0 &&
                 ::pthread_create(&thread, &attributes, entry, argument) == 0;
  ::pthread_attr_destroy(&attributes);
  return started;
}

}  // namespace

WorkerThread WorkerThread::start(std::function<void()> work) noexcept {
  WorkerThread worker;
  try {
    worker.state_ = std::make_unique<State>();
    worker.state_->work = std::move(work);
  } catch (const std::bad_alloc&) {
    return {};
  }
  auto entry = [](void* argument) -> void* {
    auto* state = static_cast<State*>(argument);
    try {
      state->work();
    } catch (...) {
      state->error = std::current_exception();
    }
    return nullptr;
  };
  if (!startThread(entry, worker.state_.get(), worker.state_->thread)) return {};
  return worker;
}

WorkerThread::WorkerThread() noexcept = default;
WorkerThread::WorkerThread(WorkerThread&&) noexcept = default;

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
  if (this != &other) {
    if (state_) ::pthread_join(state_->thread, nullptr);
    state_ = std::move(other.state_);
  }
  return *this;
}

WorkerThread::~WorkerThread() {
  if (state_) ::pthread_join(state_->thread, nullptr);
}

void WorkerThread::join() {
  if (!state_) return;
  ::pthread_join(state_->thread, nullptr);
  const std::exception_ptr error = state_->error;
  state_.reset();
  if (error) std::rethrow_exception(error);
}

bool startDetachedThread(std::function<void()> work) noexcept {
  std::unique_ptr<std::function<void()>> owned;
  try {
    owned = std::make_unique<std::function<void()>>(std::move(work));
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto entry = [](void* argument) -> void* {
    std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(argument));
    try {
      (*run)();
    } catch (...) {
    }
    return nullptr;
  };
  pthread_t thread;
  if (!startThread(entry, owned.get(), thread)) return false;
  owned.release();  // the thread's now
  ::pthread_detach(thread);
  return true;
}

}  // namespace vardelle
