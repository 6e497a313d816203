#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vardelle::testing {

struct ProcessOutput {
  int exitStatus = -1;  ///< exit code, or 128 + signal
  std::string out;
  std::string err;
  double seconds = 0;           ///< from start until the child was reaped
  long peakMemoryKb = 0;        ///< the child's largest resident set (ru_maxrss), in KiB
  double processorSeconds = 0;  ///< the child's user and system time
};

/// A value in `env` that removes the variable instead of setting it.
inline const std::string kUnset = "\x7F(unset)";

/// Runs `argv` (argv[0] is the program path) with the current environment changed by `env`,
/// waits for it and returns what it wrote. `whileRunning`, when given, is called on a thread of
/// its own with the child's pid as soon as it is started (to signal it, say); the child is reaped
/// only after that call has returned, so the pid stays the child's throughout. Output is read
/// until every holder of the pipes (the child's own children too) has closed them.
ProcessOutput runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {},
                         const std::function<void(int pid)>& whileRunning = {});

/// Runs the built vardelle (or the binary VARDELLE_UNDER_TEST names, to measure another build)
/// with a mode and request path.
ProcessOutput runVardelle(const std::string& mode, const std::string& requestPath,
                          const std::map<std::string, std::string>& env = {},
                          const std::function<void(int pid)>& whileRunning = {});

}  // namespace vardelle::testing
