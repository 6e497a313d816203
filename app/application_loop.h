#pragma once

#include <functional>

#include "base/records.h"

namespace vardelle::app {

/// Runs `task` from the GLib main loop of this thread and finishes the process with its result
/// (or its failure). Never returns: should the loop ever stop first, the process finishes with
/// "The native application loop stopped before the operation completed."
[[noreturn]] void runInApplicationLoop(std::function<HelperResult()> task);

}  // namespace vardelle::app
