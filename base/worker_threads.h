#pragma once

// The threads the helper starts, and how many a piece of work gets. A run's memory must not grow
// with the machine: the process runs under a limit on its private writable memory, which counts
// every thread's stack at its reserved size, and a workstation may have a hundred cores.
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>

namespace vardelle {

/// The stack of every thread the helper starts itself (zlib, LittleCMS and libpng need a few
/// kilobytes of it; loading a module with the dynamic linker a few dozen).
inline constexpr std::size_t kWorkerStackBytes = std::size_t(512) << 10;
/// The stack of threads that libraries start without asking for a size (GLib's, libcups', Avahi's):
/// glibc would give them the main thread's 8 MB.
inline constexpr std::size_t kLibraryThreadStackBytes = std::size_t(2) << 20;
/// The most workers one pool starts, whatever the machine: past this many the memory each worker
/// keeps (a band, a colour memo) costs more than the time it saves.
inline constexpr unsigned kMostWorkers = 8;

/// The number of processors this process may run on (its CPU affinity, so `taskset` and cgroup
/// cpusets count), at least 1. The one place the machine's size is read.
unsigned processorCount();

/// How many workers a pool gets for `units` of work when each worker should have at least
/// `unitsPerWorker` of it: at least 1, and never more than processorCount() or kMostWorkers.
unsigned workerCount(std::size_t units, std::size_t unitsPerWorker);

/// Makes threads that libraries start without a stack size get kLibraryThreadStackBytes. Called
/// once at start, before any thread exists.
void useSmallThreadStacks();

/// A thread of the helper's with a stack of kWorkerStackBytes. What `work` throws (std::bad_alloc
/// included) is kept and thrown again by join(), on the thread that waits: no exception ends the
/// process from a worker. Move-only; destroying a started thread joins it and drops what it threw.
class WorkerThread {
 public:
  WorkerThread() noexcept;
  /// Starts `work`. When no thread can be had (memory, or the process's thread limit) the result
  /// is not started(): the caller does the work itself.
  static WorkerThread start(std::function<void()> work) noexcept;

  WorkerThread(WorkerThread&&) noexcept;
  WorkerThread& operator=(WorkerThread&&) noexcept;
  ~WorkerThread();

  bool started() const { return state_ != nullptr; }
  /// Waits for the thread; throws what `work` threw. Does nothing when not started().
  void join();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// Starts `work` on a thread of the helper's that is never joined (it runs until the process
/// ends). Returns false when no thread can be had.
bool startDetachedThread(std::function<void()> work) noexcept;

}  // namespace vardelle
