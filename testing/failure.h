#pragma once

#include <functional>
#include <string>

namespace vardelle::testing {

/// The sentence of the PrintFailure that `operation` throws; empty when it throws none. Any
/// other exception passes through, so a test sees a wrong kind of failure as an error.
std::string failureOf(const std::function<void()>& operation);

}  // namespace vardelle::testing
