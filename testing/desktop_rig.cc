#include "testing/desktop_rig.h"

#include <cups/cups.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testing/run_process.h"

namespace vardelle::testing {
namespace {

std::string scriptPath() { return std::string(VARDELLE_SOURCE_DIR) + "/scripts/desktop-rig"; }

int threadCount() {
  std::istringstream status(readFile("/proc/self/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

// Namespaces belong to threads: the process moves while it has no other, and every thread and
// child it starts afterwards follows. Mounts made in the new namespace must not propagate back.
void enterPrivateNamespaces() {
  static std::string failure;
  static bool entered = false;
  if (entered) return;
  if (failure.empty()) {
    if (threadCount() != 1) {
      failure = "this test process already runs other threads";
    } else if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
      failure = std::string("unshare: ") + std::strerror(errno);
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      failure = std::string("making mounts private: ") + std::strerror(errno);
    } else {
      entered = true;
      return;
    }
  }
  throw std::runtime_error(
      "The desktop rig needs network and mount namespaces of its own, which this test process "
      "could not enter (" +
      failure + "); run the DesktopQueues tests as root.");
}

void exportLines(const std::string& text, std::map<std::string, std::string>& into) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("export ")) continue;
    auto eq = line.find('=');
    if (eq != std::string::npos) into[line.substr(7, eq - 7)] = line.substr(eq + 1);
  }
}

}  // namespace

std::vector<std::string> DesktopRig::script(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {"/bin/bash", scriptPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

DesktopRig::DesktopRig() {
  enterPrivateNamespaces();
  ProcessOutput started = runProcess(script({"start", dir_.file("rig")}));
  if (started.exitStatus != 0) {
    runProcess(script({"stop", dir_.file("rig")}));
    throw std::runtime_error("The desktop rig did not start: " + started.err);
  }
  exportLines(started.out, environment_);
  if (environment_["CUPS_SERVER"].empty()) {
    runProcess(script({"stop", dir_.file("rig")}));
    throw std::runtime_error("scripts/desktop-rig printed no environment:\n" + started.out);
  }
  environment_["VARDELLE_FIRMWARE_RENDER"] = VARDELLE_FIRMWARE_RENDER;
  overridden_.set(environment_);
  // libcups remembers the server of its first call; make it read CUPS_SERVER again.
  cupsSetServer(nullptr);
}

DesktopRig::~DesktopRig() {
  runProcess(script({"stop", dir_.file("rig")}));
  overridden_.restore();
  cupsSetServer(nullptr);
}

DesktopRig::Printer DesktopRig::addPrinter(const std::string& key, const std::string& service,
                                           const std::string& attributes) const {
  std::vector<std::string> arguments = {"add-printer", dir_.file("rig"), key, service};
  if (!attributes.empty()) arguments.push_back(attributes);
  ProcessOutput added = runProcess(script(arguments), environment_);
  if (added.exitStatus != 0) {
    throw std::runtime_error("The printer \"" + service + "\" did not start: " + added.err);
  }
  std::map<std::string, std::string> values;
  exportLines(added.out, values);
  Printer printer{key, service, values["VARDELLE_PRINTER_URI"],
                  std::atoi(values["VARDELLE_PRINTER_PORT"].c_str()),
                  values["VARDELLE_PRINTER_JOBS"]};
  if (printer.uri.empty() || printer.jobs.empty()) {
    throw std::runtime_error("scripts/desktop-rig add-printer printed nothing:\n" + added.out);
  }
  return printer;
}

void DesktopRig::stopPrinter(const std::string& key) const {
  runProcess(script({"stop-printer", dir_.file("rig"), key}), environment_);
}

int DesktopRig::printerProcess(const std::string& key) const {
  return std::atoi(readFile(dir_.file("rig/run/printer-" + key + ".pid")).c_str());
}

std::string DesktopRig::printerKeys(const std::string& key) const {
  return dir_.file("rig/keys/" + key);
}

void DesktopRig::restartCupsd() const {
  ProcessOutput restarted = runProcess(script({"restart-cupsd", dir_.file("rig")}), environment_);
  if (restarted.exitStatus != 0) {
    throw std::runtime_error("cupsd did not start again: " + restarted.err);
  }
}

void DesktopRig::startCupsBrowsed() const {
  ProcessOutput started = runProcess(script({"start-browsed", dir_.file("rig")}), environment_);
  if (started.exitStatus != 0) {
    throw std::runtime_error("cups-browsed did not start: " + started.err);
  }
}

std::string DesktopRig::waitForQueue(const std::string& name,
                                     std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::string ppd = dir_.file("rig/cups/ppd/" + name + ".ppd");
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(ppd)) {
      if (cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr)) {
        const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options);
        std::string found = uri ? uri : "";
        cupsFreeDests(1, dest);
        if (!found.empty()) return found;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("No queue \"" + name + "\" appeared in the rig's cupsd.");
}

void DesktopRig::addQueue(const std::string& name, const std::string& deviceUri) const {
  ProcessOutput added = runProcess({"/usr/sbin/lpadmin", "-p", name, "-E", "-v", deviceUri, "-m",
                                    "everywhere", "-o", "PageSize=A4"},
                                   environment_);
  if (added.exitStatus != 0) throw std::runtime_error("lpadmin failed: " + added.err);
  waitForQueue(name);
}

std::string DesktopRig::log(const std::string& name) const {
  std::string text = readFile(dir_.file("rig/log/" + name + ".log"));
  if (text.empty()) text = readFile(dir_.file("rig/log/" + name + "_log"));
  return text;
}

}  // namespace vardelle::testing
