#pragma once

#include <functional>
#include <string>

namespace vardelle::testing {

/// The sentence of the PrintFailure that `operation` throws; empty when it throws none. Any
/// other exception passes through, so a test sees a wrong kind of failure as an error.
std::string failureOf(const std::function<void()>& operation);

/// The result line the helper writes for a failure saying `message`: the JSON object of "error"
/// and "ok": false, keys sorted, every "/" written "\/", then a line feed.
std::string failureLine(const std::string& message);

}  // namespace vardelle::testing
