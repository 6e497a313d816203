#pragma once

#include <map>
#include <string>
#include <utility>

namespace vardelle::testing {

/// Sets environment variables for the test process and puts back what was there before: the
/// earlier value, or no variable at all. Restores on destruction unless restored already.
class EnvironmentOverride {
 public:
  EnvironmentOverride() = default;
  ~EnvironmentOverride() { restore(); }
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  /// Sets each variable of `values`, remembering what it was the first time it is set here.
  void set(const std::map<std::string, std::string>& values);
  /// Puts every variable set here back as it was.
  void restore();

 private:
  std::map<std::string, std::pair<bool, std::string>> saved_;  ///< variable → (was set, value)
};

}  // namespace vardelle::testing
