#pragma once

#include <string>

#include "base/records.h"

namespace vardelle::app {

/// Checks and routes one request and returns its result; throws PrintFailure (or a platform
/// error) for the first check that fails, in the fixed routing order.
HelperResult perform(const std::string& mode, const PrintRequest& request);

}  // namespace vardelle::app
