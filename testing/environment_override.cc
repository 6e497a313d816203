#include "testing/environment_override.h"

#include <cstdlib>

namespace vardelle::testing {

void EnvironmentOverride::set(const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    if (!saved_.contains(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = {old != nullptr, old ? old : ""};
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

void EnvironmentOverride::restore() {
  for (const auto& [name, old] : saved_) {
    if (old.first) {
      ::setenv(name.c_str(), old.second.c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  saved_.clear();
}

}  // namespace vardelle::testing
