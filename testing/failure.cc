#include "testing/failure.h"

#include <nlohmann/json.hpp>

#include "base/print_failure.h"

namespace vardelle::testing {

std::string failureOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const PrintFailure& failure) {
    return failure.message();
  }
  return "";
}

std::string failureLine(const std::string& message) {
  std::string line;
  for (char c : nlohmann::json({{"ok", false}, {"error", message}}).dump()) {
    if (c == '/') line += '\\';
    line += c;
  }
  return line + "\n";
}

}  // namespace vardelle::testing
