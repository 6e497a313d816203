#pragma once

#include <string>

namespace vardelle::app {

/// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, and so in every thread started from
/// it afterwards (Ghostscript's, GLib's, GTK's). Called first thing in the process, before any
/// other thread exists.
void blockTerminationSignals();

/// Starts the one thread that takes those signals (sigwait): the first one ends the process
/// through finish() with parentGoneMessage(mode), as the watchdog does, since the parent ending
/// the helper is the usual sender. Signals that came before this call are taken at once.
void startTerminationSignalThread(const std::string& mode);

}  // namespace vardelle::app
