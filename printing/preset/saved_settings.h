#pragma once

// A preset's printer settings, saved through the printer-settings dialog: what the dialog starts
// from, and how the user's choice becomes the snapshot a print later restores.

#include <chrono>

#include "base/records.h"

namespace vardelle::printing {

/// Shows the printer-settings dialog for the request's printer (which must be installed or be a
/// printer CUPS can make a temporary queue for, and be the one the request names), starting from
/// the preset's saved settings when they can be used; on "Save Settings" forces exact-size layout,
/// keeps the paper as the queue's own entry the user picked, the copies and their collation as
/// every job reads them, measures the paper through CUPS and replaces the snapshot file
/// atomically. Returns the saved result (ok, not cancelled, the summary) or the cancelled one
/// (the snapshot file untouched). Throws PrintFailure for each refusal (printer not installed, no
/// display, printer changed or identity mismatch, layout, paper, a driver that cannot keep the
/// size) and PlatformError when the file cannot be written; every failure leaves the snapshot
/// file as it was. Waits up to `printerWait` for the printer to appear in the dialog. Runs on
/// the GLib main context of the calling thread.
HelperResult saveSettingsThroughDialog(const PrintRequest& request,
                                       std::chrono::milliseconds printerWait);

}  // namespace vardelle::printing
