#pragma once

#include "base/records.h"

namespace vardelle::app {

/// `print` on an already routed request: refuses a request without artwork, and application
/// colour whose driver colour correction was not acknowledged as disabled (before the snapshot
/// is read, so a preset never saved still hears it), prepares the document and submits it
/// (printing::submit). Throws PrintFailure for each refusal.
HelperResult printCommand(const PrintRequest& request);

}  // namespace vardelle::app
