#include "printing/cups/connection.h"

#include <string_view>

#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

constexpr int kConnectMilliseconds = 5000;
constexpr double kSilenceSeconds = 10.0;

// libcups asks this when a connection has been silent for the time-out; 0 means give up
// instead of waiting forever on a cupsd that accepted the connection but stopped answering.
int giveUp(http_t*, void*) { return 0; }

}  // namespace

HttpConnection connectToPrintSystem() {
  HttpConnection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(),
                                   /*blocking=*/1, kConnectMilliseconds, nullptr));
  if (!http) throw PrintFailure(kPrintSystemUnavailable);
  httpSetTimeout(http.get(), kSilenceSeconds, giveUp, nullptr);
  return http;
}

std::optional<DeviceConnection> connectToDevice(const std::string& uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return std::nullopt;
  }
  const bool secure = std::string_view(scheme) == "ipps";
  HttpConnection http(httpConnect2(host, port, nullptr, AF_UNSPEC,
                                   secure ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED,
                                   /*blocking=*/1, kConnectMilliseconds, nullptr));
  if (!http) return std::nullopt;
  httpSetTimeout(http.get(), kSilenceSeconds, giveUp, nullptr);
  return DeviceConnection{std::move(http), resource};
}

void cupsNote(const char* what) { debugNote(std::string(what) + ": " + cupsLastErrorString()); }

bool printSystemUnavailable(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
         status == IPP_STATUS_ERROR_TEMPORARY || status == IPP_STATUS_ERROR_TIMEOUT ||
         status == IPP_STATUS_ERROR_CUPS_PKI || status == IPP_STATUS_ERROR_BUSY;
}

}  // namespace vardelle::printing
