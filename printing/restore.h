#pragma once

#include <optional>
#include <string>

#include "base/records.h"
#include "printing/print_settings.h"
#include "printing/snapshot.h"

namespace vardelle::printing {

/// The settings archived in the snapshot. Throws PrintFailure when the archive cannot be
/// restored (damaged, foreign, another version) or names another printer than the snapshot.
/// The snapshot's paper and summary are not applied: the settings carry their own.
PrintSettings restorePrintInfo(const NativeSnapshot& snapshot);

/// The native identifier (cupsd's printer-uuid) of the queue the settings print to; none when
/// that queue does not exist. Throws PrintFailure when no print system answers, rather than
/// calling the printer unknown.
std::optional<std::string> currentPrinterID(const PrintSettings& settings);

/// Throws PrintFailure unless the settings print to the request's printer and, when the request
/// carries an identifier, that queue's identifier is the request's. Without a request
/// identifier the print system is not asked.
void verifyPrinter(const PrintSettings& settings, const PrintRequest& request);

}  // namespace vardelle::printing
