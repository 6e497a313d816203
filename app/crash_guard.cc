#include "app/crash_guard.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <atomic>
#include <cstddef>

#include "app/finish.h"
#include "base/drawing_deadline.h"
#include "base/worker_threads.h"

#if defined(__SANITIZE_ADDRESS__)
#define VARDELLE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define VARDELLE_SANITIZED 1
#endif
#endif

namespace vardelle::app {

namespace {

std::atomic<const char*> crashSentence{"The operation failed for an unknown reason."};

// Enough for the handler and finishFromSignal's 2 KB line; SIGSTKSZ is no longer a constant.
constexpr size_t kSignalStackBytes = 64 * 1024;
// qpdf spends about 2.7 KB of stack on each level of a chain of references it follows or copies.
// The plain reader refuses the chains it can see; this lets qpdf copy a chain in a file the plain
// reader cannot read (a filter it leaves to qpdf) about 20,000 deep instead of 3,000, and the
// crash handler ends a deeper one with its line. Pages are committed only when touched, but the
// whole size counts against the memory limit below.
constexpr size_t kLargeStackBytes = size_t(64) << 20;
// The private writable memory of a run: 512 MB in all. A qpdf Flate bomb then ends with
// std::bad_alloc in a few seconds instead of taking gigabytes for a minute; a 24-megapixel 16-bit
// photograph's preview needs less than 150 MB of it.
[[maybe_unused]] constexpr rlim_t kMemoryBytes = rlim_t(512) << 20;
// The limit counts every thread's stack at its reserved size, touched or not. What the helper
// reserves for stacks is fixed and small, the same on any machine (no pool grows past
// kMostWorkers): the large stack, and room for the threads it starts (at most 4 compressing and 8
// converting, a few of its own) and the libraries' few. The rest is what the run may use.
[[maybe_unused]] constexpr rlim_t kStackBytes =
    kLargeStackBytes + 24 * kWorkerStackBytes + 8 * kLibraryThreadStackBytes;
static_assert(kStackBytes < kMemoryBytes / 4);
constexpr rlim_t kCpuSeconds = 120;

std::atomic<const char*> outOfTimeSentence{kTooLongToDrawSentence};

void onFatalSignal(int) { finishFromSignal(crashSentence.load()); }

// A drawing deadline's timer (SI_TIMER) fires while a page is drawn, before anything is sent
// anywhere; the processor-time limit may fire at any point of the run.
void onProcessorTime(int, siginfo_t* info, void*) {
  finishFromSignal(info && info->si_code == SI_TIMER ? kTooLongToDrawSentence
                                                     : outOfTimeSentence.load());
}

// Each thread needs its own: a handler for a stack overflow cannot run on the stack that
// overflowed. Never freed: the thread may run until the process ends.
void giveThreadSignalStack() {
  void* memory = ::mmap(nullptr, kSignalStackBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kSignalStackBytes;
  if (::sigaltstack(&stack, nullptr) != 0) ::munmap(memory, kSignalStackBytes);
}

void handle(int signal) {
  struct sigaction action {};
  if (signal == SIGXCPU) {
    action.sa_sigaction = &onProcessorTime;
    action.sa_flags = SA_SIGINFO;
  } else {
    action.sa_handler = &onFatalSignal;
  }
  // A fault inside the handler itself then ends the process as the signal would have.
  action.sa_flags |= SA_ONSTACK | SA_RESETHAND;
  sigfillset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void installCrashGuard(const char* sentence, const char* processorLimitSentence) {
  crashSentence.store(sentence);
  outOfTimeSentence.store(processorLimitSentence);
  static const bool installed = [] {
    giveThreadSignalStack();
#ifndef VARDELLE_SANITIZED
    // SIGABRT too: poppler and Ghostscript abort when an allocation fails, and std::terminate
    // aborts.
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) handle(signal);
#endif
    handle(SIGXCPU);
    return true;
  }();
  (void)installed;
}

void limitProcessorTime() {
  rlimit cpu{kCpuSeconds, kCpuSeconds + 5};
  ::setrlimit(RLIMIT_CPU, &cpu);
}

void limitMemory() {
#ifndef VARDELLE_SANITIZED
  rlimit data{};
  if (::getrlimit(RLIMIT_DATA, &data) == 0 &&
      (data.rlim_cur == RLIM_INFINITY || data.rlim_cur > kMemoryBytes)) {
    data.rlim_cur = kMemoryBytes;
    ::setrlimit(RLIMIT_DATA, &data);
  }
#endif
}

void runWithLargeStack(const std::function<void()>& work) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return work();
  struct Attributes {
    pthread_attr_t* a;
    ~Attributes() { ::pthread_attr_destroy(a); }
  } destroy{&attributes};
  if (::pthread_attr_setstacksize(&attributes, kLargeStackBytes) != 0) return work();
  pthread_t thread;
  auto entry = [](void* argument) -> void* {
    giveThreadSignalStack();
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  if (::pthread_create(&thread, &attributes, entry, const_cast<std::function<void()>*>(&work)) !=
      0) {
    return work();
  }
  ::pthread_join(thread, nullptr);
}

}  // namespace vardelle::app
