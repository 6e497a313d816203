#pragma once

#include <cups/cups.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/environment_override.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {

/// The jobs the IPP printer or queue `uri` holds, in any state: job id to job-state, asked on
/// `http` (CUPS_HTTP_DEFAULT for the rig's cupsd) at `resource`; empty when it does not answer.
std::map<int, int> jobStates(http_t* http, const std::string& uri, const std::string& resource);

/// A private print system for one test: scripts/test-printer started in a fresh folder (a D-Bus
/// bus, the virtual printer of testing/printer/vardelle-test.ppd, a cupsd on a free loopback port
/// with one queue). While it lives, this process talks to that cupsd (CUPS_SERVER) with a HOME
/// of its own; the destructor stops exactly the processes the script started and restores the
/// environment. Throws std::runtime_error when the rig does not start.
class CupsRig {
 public:
  CupsRig();
  ~CupsRig();
  CupsRig(const CupsRig&) = delete;
  CupsRig& operator=(const CupsRig&) = delete;

  /// The queue the rig creates ("vardelle-test").
  const std::string& queue() const { return queue_; }
  /// "localhost:<port>" of the private cupsd.
  const std::string& server() const { return server_; }
  /// The variables a child process needs to use the rig (CUPS_SERVER, HOME, …).
  const std::map<std::string, std::string>& environment() const { return environment_; }

  /// Adds a queue `name` for the rig's virtual printer (A4 by default); throws on failure.
  void addQueue(const std::string& name) const;
  /// Adds a queue `name` made from the Debian driver `model` (an `lpinfo -m` name such as
  /// "gutenprint.5.3://escp2-p800/expert" or "drv:///sample.drv/generic.ppd") whose printer is
  /// the file driverOutput(name), default paper `pageSize`; throws on failure.
  void addDriverQueue(const std::string& name, const std::string& model,
                      const std::string& pageSize = "A4") const;
  /// Adds a queue `name` with the PPD file `ppd` that prints to driverOutput(name), or replaces
  /// the PPD of an existing one; throws on failure.
  void addQueueWithPpd(const std::string& name, const std::string& ppd) const;
  /// The number of jobs cupsd holds for the queue `name`, in any state.
  size_t jobCount(const std::string& name) const;
  /// Where a driver queue's printer writes what it receives (the last job's output).
  std::string driverOutput(const std::string& name) const;
  /// The PPD cupsd keeps for the queue `name`.
  std::string queuePpd(const std::string& name) const;
  /// Waits until the queue `name` has `count` completed jobs and returns their ids, oldest
  /// first; empty when `limit` passed first or a job was stopped or aborted.
  std::vector<int> waitForCompletedJobs(
      const std::string& name, size_t count,
      std::chrono::milliseconds limit = std::chrono::seconds(90)) const;
  /// The document of job `jobId` as cupsd spooled it (kept: PreserveJobFiles).
  std::string spooledDocument(int jobId) const;
  /// The options the last filter of job `jobId` received (its argv[5], from the debug log).
  std::string driverOptions(int jobId) const;
  /// Every line of cupsd's debug log about job `jobId` (the filters it started, what they
  /// logged), in order.
  std::string jobLog(int jobId) const;
  /// The copies cupsd handed the filters and the backend of job `jobId` (their argv[4]); 0 when
  /// the log does not say.
  int driverCopies(int jobId) const;
  /// The sheets the driver of job `jobId` printed (its "PAGE:" lines).
  int driverSheets(int jobId) const;
  /// The raster the driver of the PDF job `jobId` on queue `name` was handed, made again from the
  /// spooled document with the copies and options it received (the driver's own output cannot
  /// be read back), written to `out`; none when the filters fail.
  std::optional<std::string> remadeDriverRaster(const std::string& name, int jobId,
                                                const std::string& out) const;

  /// Points the queue `name` at another device URI, keeping its PPD; throws on failure.
  void setDeviceUri(const std::string& name, const std::string& uri) const;
  /// Deletes the queue `name`; throws on failure.
  void deleteQueue(const std::string& name) const;

  /// Stops the rig's cupsd (by its PID) and waits until it is gone: the print system is then
  /// unreachable, as on a machine whose CUPS service is stopped.
  void stopCupsd() const;

  /// A firmware-like driverless printer added to the rig (scripts/test-printer add-firmware).
  struct FirmwarePrinter {
    std::string queue;  ///< its queue in the rig's cupsd (-m everywhere)
    std::string uri;    ///< the printer's own URI, the queue's device URI
    std::string jobs;   ///< where it keeps each job, with "<file>-page<N>.png" renderings
  };
  /// Starts a firmware-like printer with the capabilities of `attributes` (an ippeveprinter
  /// attributes file; testing/printer/firmware.attrs when empty) and adds the queue `name`
  /// (letters, digits, _). Throws std::runtime_error when it does not start.
  FirmwarePrinter addFirmwarePrinter(const std::string& name,
                                     const std::string& attributes = "") const;

  /// A job the virtual printer received: the kept document and its IPP_* attributes.
  struct KeptJob {
    std::string file;
    std::map<std::string, std::string> attributes;  ///< e.g. IPP_MEDIA → "iso_a4_210x297mm"
  };
  /// The jobs received so far, in job-number order.
  std::vector<KeptJob> keptJobs() const;
  /// The jobs kept in the folder `jobs` (a firmware printer's), in job-number order.
  static std::vector<KeptJob> keptJobsIn(const std::string& jobs);
  /// Polls until at least `count` jobs are kept or `limit` has passed; returns what is there.
  std::vector<KeptJob> waitForJobs(
      size_t count, std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

 private:
  void runLpadmin(const std::vector<std::string>& arguments) const;

  TempDir dir_;
  std::string queue_;
  std::string server_;
  std::string jobs_;
  std::string printerUri_;
  std::map<std::string, std::string> environment_;
  EnvironmentOverride overridden_;
};

}  // namespace vardelle::testing
