#include "printing/cups/printer_trust.h"

#include <strings.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/diagnostics.h"

namespace vardelle::printing {
namespace {

struct AddressListFree {
  void operator()(http_addrlist_t* list) const noexcept { httpAddrFreeList(list); }
};
using AddressList = std::unique_ptr<http_addrlist_t, AddressListFree>;

struct CredentialsFree {
  void operator()(cups_array_t* credentials) const noexcept { httpFreeCredentials(credentials); }
};
using Credentials = std::unique_ptr<cups_array_t, CredentialsFree>;

// The printer's own certificate (the first of the chain, DER) as `http` shows it now; empty
// without TLS.
std::string certificateOf(http_t* http) {
  cups_array_t* presented = nullptr;
  if (httpCopyCredentials(http, &presented) != 0 || !presented) return {};
  Credentials credentials(presented);
  auto* first = static_cast<http_credential_t*>(cupsArrayFirst(credentials.get()));
  if (!first || !first->data) return {};
  return std::string(static_cast<const char*>(first->data), first->datalen);
}

// The judgement CUPS' own ipp backend makes of a printer's certificate: a self-signed one is
// trusted the first time; afterwards only the saved one (or a renewal of it) is. Saving waits
// until the printer is confirmed (rememberCertificate).
bool trustedAsCupsDoes(http_t* http, const char* host, bool* renewed) {
  cups_array_t* presented = nullptr;
  if (httpCopyCredentials(http, &presented) != 0 || !presented) return false;
  Credentials credentials(presented);
  cups_array_t* before = nullptr;
  if (httpLoadCredentials(nullptr, &before, host) != 0) before = nullptr;
  Credentials saved(before);
  const http_trust_t trust = httpCredentialsGetTrust(credentials.get(), host);
  if (trust != HTTP_TRUST_OK && trust != HTTP_TRUST_RENEWED) {
    debugNote(std::string("printer certificate for ") + host + ": " + cupsLastErrorString());
    return false;
  }
  *renewed = trust == HTTP_TRUST_RENEWED;
  // libcups has just saved the renewal itself; until the printer is confirmed, the store keeps
  // the certificate it had (rememberCertificate writes the renewal then).
  if (*renewed && saved) httpSaveCredentials(nullptr, saved.get(), host);
  return true;
}

// What makes libcups open a new connection for the next request: the last answer said
// "Connection: close", the last exchange was left unfinished, or the printer closed the
// connection while it was idle (which libcups finds only when its write fails; an idle
// connection with something to read has been closed or is out of step).
bool wouldReconnect(http_t* http) {
  const char* connection = httpGetField(http, HTTP_FIELD_CONNECTION);
  return httpGetFd(http) < 0 || httpGetState(http) != HTTP_STATE_WAITING ||
         (connection && strcasecmp(connection, "close") == 0) || httpWait(http, 0);
}

bool shows(http_t* http, const std::optional<PinnedCertificate>& pinned) {
  return !pinned || pinned->isShownBy(http);
}

}  // namespace

std::optional<PinnedCertificate> PinnedCertificate::shownBy(http_t* http) {
  std::string der = certificateOf(http);
  if (der.empty()) return std::nullopt;
  return PinnedCertificate(std::move(der));
}

bool PinnedCertificate::isShownBy(http_t* http) const { return certificateOf(http) == der_; }

std::optional<DeviceConnection> connectToDevice(const std::string& uri, const std::string& address,
                                                const CertificateTrust& trust,
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
  giveUpWhenSilent(http.get());
  DeviceConnection connection{std::move(http), uri, address, resource, host, std::nullopt, false};
  if (!secure) return connection;
  connection.certificate = PinnedCertificate::shownBy(connection.http.get());
  const auto* pinned = std::get_if<PinnedCertificate>(&trust);
  const bool trusted =
      connection.certificate &&
      (pinned ? *connection.certificate == *pinned
              : trustedAsCupsDoes(connection.http.get(), host, &connection.renewed));
  if (!trusted) {
    if (pinned) {
      debugNote(std::string("printer certificate for ") + host +
                " is not the one this print started with");
    }
    return fail(DeviceFailure::untrusted);
  }
  return connection;
}

void rememberCertificate(const DeviceConnection& connection) {
  if (!connection.certificate) return;
  cups_array_t* saved = nullptr;
  if (!connection.renewed && httpLoadCredentials(nullptr, &saved, connection.host.c_str()) == 0 &&
      saved) {
    Credentials owned(saved);
    return;
  }
  cups_array_t* presented = nullptr;
  if (httpCopyCredentials(connection.http.get(), &presented) != 0 || !presented) return;
  Credentials credentials(presented);
  httpSaveCredentials(nullptr, credentials.get(), connection.host.c_str());
}

http_status_t sendCheckedRequest(http_t* http, const std::optional<PinnedCertificate>& pinned,
                                 ipp_t* request, const char* resource, size_t length,
                                 bool* untrusted) {
  *untrusted = false;
  if (pinned && wouldReconnect(http)) {
    httpClearFields(http);
    if (httpReconnect2(http, kConnectMilliseconds, nullptr) != 0) return HTTP_STATUS_ERROR;
  }
  if (!shows(http, pinned)) {
    *untrusted = true;
    return HTTP_STATUS_ERROR;
  }
  const http_status_t status = cupsSendRequest(http, request, resource, length);
  if (!shows(http, pinned)) {
    *untrusted = true;
    return HTTP_STATUS_ERROR;
  }
  return status;
}

IppMessage doCheckedRequest(http_t* http, const std::optional<PinnedCertificate>& pinned,
                            ipp_t* request, const char* resource, bool* untrusted) {
  *untrusted = false;
  // Without a certificate to keep, libcups' own loop (which answers a request to upgrade to TLS
  // or to authenticate by sending the request again) is the one to use.
  if (!pinned) return IppMessage(cupsDoRequest(http, request, resource));
  IppMessage owned(request);
  const http_status_t status =
      sendCheckedRequest(http, pinned, request, resource, ippLength(request), untrusted);
  if (*untrusted || (status != HTTP_STATUS_CONTINUE && status != HTTP_STATUS_OK)) return {};
  IppMessage response(cupsGetResponse(http, resource));
  if (httpGetState(http) != HTTP_STATE_WAITING) httpFlush(http);
  return response;
}

}  // namespace vardelle::printing
