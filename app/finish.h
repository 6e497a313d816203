#pragma once

#include "base/records.h"

namespace vardelle::app {

/// Moves standard output aside so that only finish() can write to it; anything a library prints
/// to fd 1 afterwards lands on standard error. Called once, first thing in the process.
void reserveStandardOutput();

/// Writes `result` as the one result line and ends the process: exit status 0 when `ok`, else 1;
/// the fixed fallback line (status 1) when the result holds a non-finite number. Callable from
/// any thread: the first caller takes a lock that is never released, so a second caller blocks
/// until the process is gone and writes nothing.
[[noreturn]] void finish(const HelperResult& result);

}  // namespace vardelle::app
