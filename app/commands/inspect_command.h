#pragma once

#include "base/records.h"

namespace vardelle::app {

/// `inspect` on an already routed request: the artwork measured and judged against the saved
/// paper when there is a snapshot, with the snapshot's summary. Throws PrintFailure.
HelperResult inspectCommand(const PrintRequest& request);

}  // namespace vardelle::app
