#pragma once

#include <chrono>

#include "base/records.h"

namespace vardelle::app {

/// The `settings` operation on an already validated request: shows the printer-settings dialog
/// for the request's printer, starting from the preset's saved settings when they can be used,
/// and on "Save Settings" forces exact-size layout, measures the paper through CUPS and replaces
/// the snapshot file atomically. Returns the saved result (ok, not cancelled, the summary) or the
/// cancelled one (the snapshot file untouched). Throws PrintFailure for each refusal (printer not
/// installed, no display, printer changed or identity mismatch, layout, paper) and PlatformError
/// when the file cannot be written; every failure leaves the snapshot file as it was.
/// Runs on the GLib main context of the calling thread.
HelperResult settingsCommand(const PrintRequest& request,
                             std::chrono::milliseconds printerWait = std::chrono::seconds(15));

}  // namespace vardelle::app
