#include "testing/cups_rig.h"

#include <cups/cups.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testing/run_process.h"

namespace vardelle::testing {
namespace {

std::string script() { return std::string(VARDELLE_SOURCE_DIR) + "/scripts/test-printer"; }

int jobNumber(const std::string& fileName) { return std::atoi(fileName.c_str()); }

}  // namespace

CupsRig::CupsRig() {
  ProcessOutput started = runProcess({"/bin/bash", script(), "start", dir_.file("rig")});
  if (started.exitStatus != 0) {
    runProcess({"/bin/bash", script(), "stop", dir_.file("rig")});
    throw std::runtime_error("scripts/test-printer start failed:\n" + started.err);
  }
  std::istringstream lines(started.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("export ")) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    environment_[line.substr(7, eq - 7)] = line.substr(eq + 1);
  }
  server_ = environment_["CUPS_SERVER"];
  queue_ = environment_["VARDELLE_TEST_PRINTER"];
  jobs_ = environment_["VARDELLE_TEST_PRINTER_JOBS"];
  printerUri_ = environment_["VARDELLE_TEST_PRINTER_URI"];
  if (server_.empty() || queue_.empty()) {
    runProcess({"/bin/bash", script(), "stop", dir_.file("rig")});
    throw std::runtime_error("scripts/test-printer printed no environment:\n" + started.out);
  }
  overridden_.set(environment_);
  // libcups remembers the server of its first call; make it read CUPS_SERVER again.
  cupsSetServer(nullptr);
}

CupsRig::~CupsRig() {
  runProcess({"/bin/bash", script(), "stop", dir_.file("rig")});
  overridden_.restore();
  cupsSetServer(nullptr);
}

void CupsRig::runLpadmin(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {"/usr/sbin/lpadmin"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessOutput result = runProcess(argv, environment_);
  if (result.exitStatus != 0) throw std::runtime_error("lpadmin failed: " + result.err);
}

void CupsRig::addQueue(const std::string& name) const {
  runLpadmin({"-p", name, "-E", "-v", printerUri_, "-m", "everywhere", "-o", "PageSize=A4"});
}

void CupsRig::addDriverQueue(const std::string& name, const std::string& model,
                             const std::string& pageSize) const {
  std::filesystem::create_directories(dir_.file("rig/out"));
  // cupsd writes the file itself, its filters run as lp: the folder is open to both.
  std::filesystem::permissions(dir_.file("rig/out"), std::filesystem::perms::all);
  runLpadmin({"-p", name, "-E", "-v", "file://" + driverOutput(name), "-m", model, "-o",
              "PageSize=" + pageSize});
}

void CupsRig::addQueueWithPpd(const std::string& name, const std::string& ppd) const {
  std::filesystem::create_directories(dir_.file("rig/out"));
  std::filesystem::permissions(dir_.file("rig/out"), std::filesystem::perms::all);
  runLpadmin({"-p", name, "-E", "-v", "file://" + driverOutput(name), "-P", ppd});
}

size_t CupsRig::jobCount(const std::string& name) const {
  const std::string uri = "ipp://localhost/printers/" + name;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "job-id");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  size_t count = 0;
  for (ipp_attribute_t* a = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER); a;
       a = ippFindNextAttribute(response, "job-id", IPP_TAG_INTEGER)) {
    ++count;
  }
  ippDelete(response);
  return count;
}

std::string CupsRig::driverOutput(const std::string& name) const {
  return dir_.file("rig/out/" + name);
}

std::string CupsRig::queuePpd(const std::string& name) const {
  return dir_.file("rig/cups/ppd/" + name + ".ppd");
}

std::map<int, int> jobStates(http_t* http, const std::string& uri, const std::string& resource) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  static const char* const kWanted[] = {"job-id", "job-state"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                kWanted);
  ipp_t* response = cupsDoRequest(http, request, resource.c_str());
  std::map<int, int> jobs;
  int id = 0;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    const char* attribute = ippGetName(a);
    if (!attribute) continue;
    if (std::string_view(attribute) == "job-id") id = ippGetInteger(a, 0);
    if (std::string_view(attribute) == "job-state") jobs[id] = ippGetInteger(a, 0);
  }
  ippDelete(response);
  return jobs;
}

std::vector<int> CupsRig::waitForCompletedJobs(const std::string& name, size_t count,
                                               std::chrono::milliseconds limit) const {
  const std::string uri = "ipp://localhost/printers/" + name;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<int> completed;
    for (const auto& [id, state] : jobStates(CUPS_HTTP_DEFAULT, uri, "/")) {
      if (state == IPP_JSTATE_STOPPED || state == IPP_JSTATE_ABORTED) return {};
      if (state == IPP_JSTATE_COMPLETED) completed.push_back(id);
    }
    if (completed.size() >= count) return completed;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

std::string CupsRig::spooledDocument(int jobId) const {
  char name[32];
  std::snprintf(name, sizeof name, "rig/cups/spool/d%05d-001", jobId);
  return dir_.file(name);
}

std::string CupsRig::driverOptions(int jobId) const {
  // "[Job 3] argv[5]="…"" for each filter; the last one logged is the driver's.
  const std::string prefix = "[Job " + std::to_string(jobId) + "] argv[5]=\"";
  std::istringstream log(readFile(dir_.file("rig/log/cups-error.log")));
  std::string found;
  for (std::string line; std::getline(log, line);) {
    auto at = line.find(prefix);
    if (at == std::string::npos) continue;
    std::string value = line.substr(at + prefix.size());
    if (!value.empty() && value.back() == '"') value.pop_back();
    found = value;
  }
  return found;
}

std::string CupsRig::jobLog(int jobId) const {
  const std::string tag = "[Job " + std::to_string(jobId) + "] ";
  std::istringstream log(readFile(dir_.file("rig/log/cups-error.log")));
  std::string lines;
  for (std::string line; std::getline(log, line);) {
    if (line.find(tag) != std::string::npos) lines += line + "\n";
  }
  return lines;
}

int CupsRig::driverCopies(int jobId) const {
  const std::string prefix = "[Job " + std::to_string(jobId) + "] argv[4]=\"";
  std::istringstream log(jobLog(jobId));
  int copies = 0;
  for (std::string line; std::getline(log, line);) {
    if (auto at = line.find(prefix); at != std::string::npos) {
      copies = std::atoi(line.c_str() + at + prefix.size());
    }
  }
  return copies;
}

int CupsRig::driverSheets(int jobId) const {
  std::istringstream log(jobLog(jobId));
  int sheets = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find("] PAGE: ") != std::string::npos) ++sheets;
  }
  return sheets;
}

std::optional<std::string> CupsRig::remadeDriverRaster(const std::string& name, int jobId,
                                                       const std::string& out) const {
  ProcessOutput made = runProcess(
      {"/bin/sh", "-c",
       "/usr/sbin/cupsfilter -p \"$0\" -i application/pdf -m application/vnd.cups-raster "
       "-n \"$1\" -o \"$2\" \"$3\" >\"$4\" 2>/dev/null",
       queuePpd(name), std::to_string(std::max(driverCopies(jobId), 1)), driverOptions(jobId),
       spooledDocument(jobId), out});
  if (made.exitStatus != 0) return std::nullopt;
  return out;
}

void CupsRig::setDeviceUri(const std::string& name, const std::string& uri) const {
  runLpadmin({"-p", name, "-v", uri});
}

void CupsRig::deleteQueue(const std::string& name) const { runLpadmin({"-x", name}); }

void CupsRig::stopCupsd() const {
  std::string pidText = readFile(dir_.file("rig/run/cupsd.pid"));
  pid_t pid = static_cast<pid_t>(std::atoi(pidText.c_str()));
  if (pid <= 0) throw std::runtime_error("the rig's cupsd has no PID file");
  // Only a cupsd started for this rig's folder is signalled, never a recycled PID.
  std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
  if (cmdline.find(dir_.path()) == std::string::npos) {
    throw std::runtime_error("PID " + std::to_string(pid) + " is not the rig's cupsd");
  }
  ::kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    // Gone, or a zombie no one has reaped yet: either way it no longer listens.
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    if (stat.empty() || (close != std::string::npos && close + 2 < stat.size() &&
                         (stat[close + 2] == 'Z' || stat[close + 2] == 'X'))) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("the rig's cupsd did not stop");
}

CupsRig::FirmwarePrinter CupsRig::addFirmwarePrinter(const std::string& name,
                                                     const std::string& attributes) const {
  std::vector<std::string> argv = {"/bin/bash", script(), "add-firmware", dir_.file("rig"), name};
  if (!attributes.empty()) argv.push_back(attributes);
  auto env = environment_;
  env["VARDELLE_FIRMWARE_RENDER"] = VARDELLE_FIRMWARE_RENDER;
  ProcessOutput added = runProcess(argv, env);
  if (added.exitStatus != 0) {
    throw std::runtime_error("scripts/test-printer add-firmware failed:\n" + added.err);
  }
  FirmwarePrinter printer{name, "", ""};
  std::istringstream lines(added.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("export VARDELLE_FIRMWARE_URI=")) printer.uri = line.substr(29);
    if (line.starts_with("export VARDELLE_FIRMWARE_JOBS=")) printer.jobs = line.substr(30);
  }
  if (printer.uri.empty() || printer.jobs.empty()) {
    throw std::runtime_error("scripts/test-printer add-firmware printed nothing:\n" + added.out);
  }
  return printer;
}

std::vector<CupsRig::KeptJob> CupsRig::keptJobs() const { return keptJobsIn(jobs_); }

std::vector<CupsRig::KeptJob> CupsRig::keptJobsIn(const std::string& folder) {
  std::vector<KeptJob> jobs;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string path = entry.path().string();
    // The job script writes "<file>.attrs" last, so a job counts only once it is complete.
    if (!path.ends_with(".attrs")) continue;
    KeptJob job;
    job.file = path.substr(0, path.size() - 6);
    std::istringstream lines(readFile(path));
    for (std::string line; std::getline(lines, line);) {
      auto eq = line.find('=');
      if (eq != std::string::npos) job.attributes[line.substr(0, eq)] = line.substr(eq + 1);
    }
    jobs.push_back(std::move(job));
  }
  std::sort(jobs.begin(), jobs.end(), [](const KeptJob& a, const KeptJob& b) {
    return jobNumber(std::filesystem::path(a.file).filename().string()) <
           jobNumber(std::filesystem::path(b.file).filename().string());
  });
  return jobs;
}

std::vector<CupsRig::KeptJob> CupsRig::waitForJobs(size_t count,
                                                   std::chrono::milliseconds limit) const {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto jobs = keptJobs();
    if (jobs.size() >= count || std::chrono::steady_clock::now() >= deadline) return jobs;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace vardelle::testing
