#include "printing/cups/connection.h"

#include <string>
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

struct AddressListFree {
  void operator()(http_addrlist_t* list) const noexcept { httpAddrFreeList(list); }
};
using AddressList = std::unique_ptr<http_addrlist_t, AddressListFree>;

struct CredentialsFree {
  void operator()(cups_array_t* credentials) const noexcept { httpFreeCredentials(credentials); }
};
using Credentials = std::unique_ptr<cups_array_t, CredentialsFree>;

// The judgement CUPS' own ipp backend makes of a printer's certificate: a self-signed one is
// trusted the first time and saved; afterwards only that one (or a renewal of it) is.
bool trusted(http_t* http, const char* host) {
  cups_array_t* presented = nullptr;
  if (httpCopyCredentials(http, &presented) != 0 || !presented) return false;
  Credentials credentials(presented);
  const http_trust_t trust = httpCredentialsGetTrust(credentials.get(), host);
  if (trust != HTTP_TRUST_OK && trust != HTTP_TRUST_RENEWED) {
    debugNote(std::string("printer certificate for ") + host + ": " + cupsLastErrorString());
    return false;
  }
  cups_array_t* saved = nullptr;
  if (httpLoadCredentials(nullptr, &saved, host) != 0 || !saved) {
    httpSaveCredentials(nullptr, credentials.get(), host);
  }
  Credentials owned(saved);
  return true;
}

}  // namespace

HttpConnection connectToPrintSystem() {
  HttpConnection http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(),
                                   /*blocking=*/1, kConnectMilliseconds, nullptr));
  if (!http) throw PrintFailure(kPrintSystemUnavailable);
  httpSetTimeout(http.get(), kSilenceSeconds, giveUp, nullptr);
  return http;
}

std::optional<DeviceConnection> connectToDevice(const std::string& uri, const std::string& address,
                                                DeviceFailure* failure) {
  auto fail = [&](DeviceFailure why) -> std::optional<DeviceConnection> {
    if (failure) *failure = why;
    return std::nullopt;
  };
  if (failure) *failure = DeviceFailure::none;
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return fail(DeviceFailure::unreachable);
  }
  const bool secure = std::string_view(scheme) == "ipps";
  // The host name stays the URI's (the Host field, the name the certificate is trusted under);
  // only the address comes from DNS-SD, so that no .local name lookup is needed.
  AddressList addresses;
  if (!address.empty()) {
    addresses.reset(httpAddrGetList(address.c_str(), AF_UNSPEC, std::to_string(port).c_str()));
    if (!addresses) return fail(DeviceFailure::unreachable);
  }
  HttpConnection http(httpConnect2(host, port, addresses.get(), AF_UNSPEC,
                                   secure ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED,
                                   /*blocking=*/1, kConnectMilliseconds, nullptr));
  if (!http) return fail(DeviceFailure::unreachable);
  httpSetTimeout(http.get(), kSilenceSeconds, giveUp, nullptr);
  if (secure && !trusted(http.get(), host)) return fail(DeviceFailure::untrusted);
  return DeviceConnection{std::move(http), resource};
}

void cupsNote(const char* what) { debugNote(std::string(what) + ": " + cupsLastErrorString()); }

bool printSystemUnavailable(ipp_status_t status) {
  return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
         status == IPP_STATUS_ERROR_TEMPORARY || status == IPP_STATUS_ERROR_TIMEOUT ||
         status == IPP_STATUS_ERROR_CUPS_PKI || status == IPP_STATUS_ERROR_BUSY;
}

}  // namespace vardelle::printing
