#include "printing/cups/connection.h"

#include <string>

#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

constexpr double kSilenceSeconds = 10.0;

// libcups asks this when a connection has been silent for the time-out; 0 means give up
// instead of waiting forever on a server that accepted the connection but stopped answering.
int giveUp(http_t*, void*) { return 0; }

}  // namespace

void giveUpWhenSilent(http_t* http) { httpSetTimeout(http, kSilenceSeconds, giveUp, nullptr); }

HttpConnection connectToPrintSystem() {
  HttpConnection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(),
                                   /*blocking=*/1, kConnectMilliseconds, nullptr));
  if (!http) throw PrintFailure(kPrintSystemUnavailable);
  giveUpWhenSilent(http.get());
  return http;
}

void cupsNote(const char* what) { debugNote(std::string(what) + ": " + cupsLastErrorString()); }

bool printSystemUnavailable(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
         status == IPP_STATUS_ERROR_TEMPORARY || status == IPP_STATUS_ERROR_TIMEOUT ||
         status == IPP_STATUS_ERROR_CUPS_PKI || status == IPP_STATUS_ERROR_BUSY;
}

}  // namespace vardelle::printing
