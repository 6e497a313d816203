#pragma once

// The memory a run may use. Every command runs under a limit on its private writable memory
// (RLIMIT_DATA), the same on any machine, so that a file built to exhaust a reader ends with a
// line instead of taking the machine. A real document may need more than that limit for what
// the check before qpdf has already counted (artwork/plain_pdf_limits.h): the limit then follows
// the count, up to a ceiling that no run passes.
#include <cstdint>

namespace vardelle {

/// The private writable memory every run gets, whatever it reads: 512 MB, of which the helper's
/// thread stacks, which the limit counts whether used or not, take a fixed part
/// (app/crash_guard.h).
inline constexpr uint64_t kRunMemoryBytes = uint64_t(512) << 20;
/// The most any run may be allowed, on any machine.
inline constexpr uint64_t kMostRunMemoryBytes = uint64_t(4) << 30;

/// Lowers the process's soft RLIMIT_DATA to kRunMemoryBytes (an allocation beyond it fails, and
/// std::bad_alloc becomes "There was not enough memory to finish this operation."); a lower limit
/// already in force is kept. Skipped under sanitizers, whose shadow memory counts against it.
void limitMemory();

/// The most allowMemory grants on this machine: kMostRunMemoryBytes, and never more than half its
/// physical memory (nor less than kRunMemoryBytes).
uint64_t mostMemoryBytes();

/// Raises the soft RLIMIT_DATA to `bytes` when a lower limit is in force, never above
/// mostMemoryBytes() or the hard limit; never lowers it, and leaves a process without a limit
/// without one. Returns the soft limit in force afterwards (UINT64_MAX for none).
uint64_t allowMemory(uint64_t bytes);

}  // namespace vardelle
