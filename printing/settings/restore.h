#pragma once

#include "base/records.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {

/// The settings archived in the snapshot. Throws PrintFailure when the archive cannot be
/// restored (damaged, foreign, another version) or names another printer than the snapshot.
/// The snapshot's paper and summary are not applied: the settings carry their own.
PrintSettings restorePrintInfo(const NativeSnapshot& snapshot);

}  // namespace vardelle::printing
