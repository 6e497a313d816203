#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "testing/environment_override.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {

/// What a Debian desktop has for printing, for one test: scripts/desktop-rig started in a fresh
/// folder (the loopback interface, a system D-Bus, avahi-daemon on the loopback interface, a
/// cupsd), to which firmware-like printers announcing themselves through DNS-SD and the real
/// cups-browsed are added on demand.
///
/// The first rig of a process moves the process into network and mount namespaces of its own
/// (unshare, which needs root and a process that has no other thread yet), so that its Avahi
/// hears no one else and its mounts over /run/dbus, /run/avahi-daemon and /etc/cups/ssl stay
/// private; every process the test starts afterwards (the helper, Xvfb) lives there too. While
/// the rig lives, this process talks to its cupsd (CUPS_SERVER) with a HOME of its own. The
/// destructor stops exactly the processes the rig started, by PID. Throws std::runtime_error with
/// a sentence saying what could not run.
class DesktopRig {
 public:
  DesktopRig();
  ~DesktopRig();
  DesktopRig(const DesktopRig&) = delete;
  DesktopRig& operator=(const DesktopRig&) = delete;

  /// A firmware-like printer announced through DNS-SD.
  struct Printer {
    std::string key;      ///< the rig's name for it
    std::string service;  ///< its DNS-SD service name, also its printer-name
    std::string uri;      ///< "ipp://127.0.0.1:<port>/ipp/print"
    int port = 0;
    std::string jobs;  ///< where it keeps each job, with "<file>-page<N>.png" renderings
  };
  /// Starts a printer announced as `service` with the capabilities of `attributes` (an
  /// ippeveprinter attributes file; testing/printer/firmware.attrs when empty) and waits until
  /// Avahi resolves it. Started again under the same `key` it keeps its port and printer-uuid.
  Printer addPrinter(const std::string& key, const std::string& service,
                     const std::string& attributes = "") const;
  /// Switches the printer `key` off: it stops answering and its services go away.
  void stopPrinter(const std::string& key) const;
  /// The process id of the running printer `key`; 0 when none runs.
  int printerProcess(const std::string& key) const;
  /// Where the printer `key` keeps its TLS key and self-signed certificate (made at its first
  /// start); removing the folder gives it a new certificate at its next start.
  std::string printerKeys(const std::string& key) const;

  /// Stops the rig's cupsd and starts it again: its temporary queues are gone, as after a
  /// reboot (deleting a queue with lpadmin -x brings CUPS 2.4.2's cupsd down while Avahi runs).
  void restartCupsd() const;

  /// Starts the real cups-browsed for the rig's cupsd.
  void startCupsBrowsed() const;

  /// Waits until cupsd has a queue `name` whose PPD is in place and returns its device URI;
  /// throws when none appeared within `limit`.
  std::string waitForQueue(const std::string& name,
                           std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
  /// Adds a queue `name` for `deviceUri` the way the Printers panel does (lpadmin -m everywhere,
  /// A4), waits for its PPD; throws on failure.
  void addQueue(const std::string& name, const std::string& deviceUri) const;

  /// The variables a child process needs to use the rig (CUPS_SERVER, HOME, …).
  const std::map<std::string, std::string>& environment() const { return environment_; }
  /// A log of the rig ("cups-error", "cups-browsed", "printer-<key>", …).
  std::string log(const std::string& name) const;
  /// The rig's folder.
  const std::string& folder() const { return dir_.path(); }

 private:
  std::vector<std::string> script(const std::vector<std::string>& arguments) const;

  TempDir dir_;
  std::map<std::string, std::string> environment_;
  EnvironmentOverride overridden_;
};

}  // namespace vardelle::testing
