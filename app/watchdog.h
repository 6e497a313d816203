#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vardelle::app {

/// Parses a parent process identifier: optional single "+" or "-", then ASCII digits only, within
/// the signed 32-bit range. None for anything else (empty, spaces, letters, overflow).
std::optional<int32_t> parseParentPid(std::string_view text);

/// True exactly when `expected` is greater than 1 and equals `actual`.
bool parentMatches(int32_t expected, int32_t actual);

/// The message the watchdog finishes with for `mode`.
std::string parentGoneMessage(const std::string& mode);

/// Starts supervising the parent named by KORVANEL_PARENT_PID: a background thread checks
/// getppid() at once and then every 500 ms, and ends the process through finish() when the parent
/// is gone. Does nothing when the variable is unset; throws PrintFailure when it is invalid.
void startParentWatchdog(const std::string& mode);

}  // namespace vardelle::app
