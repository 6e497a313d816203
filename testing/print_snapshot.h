#pragma once

#include <string>

#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"

namespace vardelle::testing {

/// The snapshot the settings command saves for `settings`: its archive, the paper measured
/// through CUPS (measurePaper, so the print system named by CUPS_SERVER must be up), the
/// summary, and the queue's printer-uuid as the identifier when `withIdentifier`. Throws the
/// PrintFailure of the measurement.
printing::NativeSnapshot savedSnapshot(const printing::PrintSettings& settings,
                                       bool withIdentifier = true);

/// Settings for `queue` with the paper `media` (a PWG name) in `orientation`.
printing::PrintSettings paperSettings(const std::string& queue, const std::string& media,
                                      printing::Orientation orientation);

}  // namespace vardelle::testing
