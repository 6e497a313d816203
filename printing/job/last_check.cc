#include "printing/job/last_check.h"

#include <cups/cups.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include "base/print_failure.h"
#include "base/text.h"
#include "printing/cups/printers.h"

// A pause a test takes between the document and the job, to change the print system there as a
// long conversion would let it change (testing/tools/pause_point.cc, preloaded by that test).
// Nothing in the product defines it. Its visibility is the default one whatever the module's, so
// that the preloaded definition is the one the module's call reaches.
extern "C" __attribute__((weak, visibility("default"))) void vardelle_pause_point(
    const char* point);

namespace vardelle::printing {
namespace {

constexpr const char* kDefaultSpoolFolder = "/var/spool/cups";

// A document of `bytes` and the `room` it does not fit in, said in one unit (gigabytes of 10^9
// bytes, megabytes when the room is less than one), with one decimal: the document rounded up,
// the room down, so that the larger is always said larger.
std::pair<std::string, std::string> sizes(unsigned long long bytes, unsigned long long room) {
  const bool gigabytes = room >= 1'000'000'000ULL;
  const double tenth = gigabytes ? 1e8 : 1e5;
  auto said = [&](unsigned long long value, bool up) {
    const double tenths = static_cast<double>(value) / tenth;
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", (up ? std::ceil(tenths) : std::floor(tenths)) / 10,
                  gigabytes ? "GB" : "MB");
    return std::string(text);
  };
  return {said(bytes, true), said(room, false)};
}

// The host part of a cupsServer() name: "localhost:631" → "localhost", "[::1]:8631" → "::1".
std::string serverHost(const std::string& server) {
  if (server.starts_with("[")) {
    const size_t end = server.find(']');
    return end == std::string::npos ? server : server.substr(1, end - 1);
  }
  // A bare IPv6 address has several colons and no port.
  if (std::count(server.begin(), server.end(), ':') > 1) return server;
  return server.substr(0, server.find(':'));
}

// Whether the queue checked as `destination` is still there as it was checked (its
// printer-uuid unchanged).
bool destinationUnchanged(const CheckedDestination& destination, const PrintRequest& request) {
  const std::optional<PrinterRecord> now = findPrinter(request.printerName);
  return now && now->identifier == destination.identifier;
}

}  // namespace

void lastCheck(CheckedDestination& destination, const JobPlan& plan, const JobDocument& document,
               const PrintRequest& request, const NativeSnapshot& snapshot) {
  // Straight to the printer the document waits nowhere but in this run's own unnamed file.
  if (destination.route == PrintRoute::localQueue) {
    requireSpoolRoom(document.bytes, plan.copies.copiesInDocument, localSpoolFree());
  }
  if (vardelle_pause_point) vardelle_pause_point("document-made");
  if (destinationUnchanged(destination, request)) return;
  CheckedDestination again = checkDestination(request, snapshot);
  const JobPlan replanned = planJob(again, request, request.colorSettings(), plan.pageCount);
  if (again.route != destination.route || !replanned.sameJob(plan) ||
      !(again.paper.sheet == destination.paper.sheet)) {
    throw PrintFailure(destinationSetUpAgain(request));
  }
  destination = std::move(again);
}

void requireSpoolRoom(unsigned long long bytes, int copies,
                      std::optional<unsigned long long> spoolFree) {
  auto what = [&](const std::string& size) {
    return "The print job would be " + size +
           (copies > 1
                ? " (it holds all " + std::to_string(copies) + " copies, made by this computer)"
                : "");
  };
  if (bytes > kMaxJobDocumentBytes) {
    const auto [size, limit] = sizes(bytes, kMaxJobDocumentBytes);
    throw PrintFailure(what(size) + ", more than the " + limit +
                       " one print may take on disk while it waits. Nothing was sent. " +
                       (copies > 1 ? "Print fewer copies at a time." : "Print at a smaller size."));
  }
  if (spoolFree && bytes > *spoolFree) {
    const auto [size, room] = sizes(bytes, *spoolFree);
    throw PrintFailure(what(size) + ", more than the " + room +
                       " left on the disk that holds the print queue. Nothing was sent. Free "
                       "some disk space" +
                       (copies > 1 ? ", or print fewer copies at a time." : ", then try again."));
  }
}

std::optional<std::string> spoolFolder(const std::string& server, const std::string& filesConf) {
  const std::string host = asciiLowercase(serverHost(server));
  const bool local = server.starts_with("/") || host == "localhost" || host == "127.0.0.1" ||
                     host == "::1" || host == "localhost.localdomain";
  if (!local) return std::nullopt;
  std::ifstream conf(filesConf);
  for (std::string line; std::getline(conf, line);) {
    std::istringstream words(line);
    std::string directive, folder;
    // cupsd reads its directives without regard to case.
    if (words >> directive >> folder && equalsIgnoringAsciiCase(directive, "RequestRoot")) {
      return folder;
    }
  }
  return kDefaultSpoolFolder;
}

std::optional<unsigned long long> localSpoolFree() {
  // Where libcups itself looks for the server's configuration.
  const char* root = std::getenv("CUPS_SERVERROOT");
  const std::optional<std::string> folder = spoolFolder(
      cupsServer(), std::string(root && *root ? root : "/etc/cups") + "/cups-files.conf");
  struct statvfs disk {};
  if (!folder || ::statvfs(folder->c_str(), &disk) != 0) return std::nullopt;
  return static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
}

}  // namespace vardelle::printing
