#pragma once

#include <stdexcept>
#include <string>

namespace vardelle {

/// The system's one refusal: a complete sentence that the parent application shows unchanged.
/// Carries nothing but its message; `what()` is that message.
class PrintFailure : public std::runtime_error {
 public:
  explicit PrintFailure(const std::string& message) : std::runtime_error(message) {}
  const char* message() const noexcept { return what(); }
};

/// A failure of the platform or of a library, reported by its own description
/// (a missing request file, malformed JSON, a failed write). Not a refusal of ours.
class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vardelle
