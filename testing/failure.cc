#include "testing/failure.h"

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

}  // namespace vardelle::testing
