#pragma once

#include <functional>

#include "base/records.h"

namespace vardelle::app {

/// The process entry: checks the command line, starts the parent watchdog, reads the request and
/// runs the mode. Every way out is finish(); it never returns.
struct PrintHelperMain {
  [[noreturn]] static void main(int argc, char** argv);
};

/// Runs `command` and turns any exception into a failure result carrying its description.
HelperResult resultOf(const std::function<HelperResult()>& command);

}  // namespace vardelle::app
