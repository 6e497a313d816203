#include "printing/cups_connection.h"

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

bool printSystemUnavailable(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
         status == IPP_STATUS_ERROR_TEMPORARY || status == IPP_STATUS_ERROR_TIMEOUT ||
         status == IPP_STATUS_ERROR_CUPS_PKI || status == IPP_STATUS_ERROR_BUSY;
}

}  // namespace vardelle::printing
