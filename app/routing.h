#pragma once

#include <string>

#include "base/records.h"

namespace vardelle::app {

/// The dispatcher's checks that need nothing but the request, in their fixed order: validation
/// (not for `sheet-thumbnail`), the copies override outside `print`, a soft proof of a `thumbnail`
/// without application-managed colour, and an unknown mode. Throws
/// PrintFailure for the first that fails. The entry runs them before it loads the engine, so a
/// refused request never pays for loading PDF, colour and print libraries.
void checkRouting(const std::string& mode, const PrintRequest& request);

}  // namespace vardelle::app
