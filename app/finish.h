#pragma once

#include "base/records.h"

namespace vardelle::app {

/// Moves standard output aside so that only finish() can write to it; anything a library prints
/// to fd 1 afterwards lands on standard error. Called once, first thing in the process.
void reserveStandardOutput();

/// Writes `result` as the one result line and ends the process: exit status 0 when `ok`, else 1;
/// the fixed fallback line (status 1) when the result holds a non-finite number. Callable from
/// any thread: the first caller claims the line, and a later caller blocks until the process is
/// gone and writes nothing.
[[noreturn]] void finish(const HelperResult& result);

/// finish() for a signal handler: the failure line carrying `sentence` (UTF-8), exit status 1,
/// using only async-signal-safe calls (no allocation, no lock, no JSON library). When another
/// thread has already claimed the line it waits a few seconds for that thread to end the process,
/// then ends it with status 1; when the calling thread crashed while writing its own line, the
/// process ends with status 1 and whatever was written.
[[noreturn]] void finishFromSignal(const char* sentence) noexcept;

}  // namespace vardelle::app
