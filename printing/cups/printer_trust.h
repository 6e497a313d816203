#pragma once

// Connections to a printer itself and how an ipps printer is trusted (printing/*.cc only): its
// certificate judged as CUPS' own ipp backend judges it when the print first reaches the printer,
// saved only once the printer has answered as the queue's, and then pinned: every later
// connection of the same print, and every connection libcups opens again by itself, must show
// exactly that certificate.

#include <cups/cups.h>

#include <optional>
#include <string>
#include <variant>

#include "printing/cups/connection.h"

namespace vardelle::printing {

/// The certificate (DER) a printer showed on the first connection of a print, once judged
/// trusted: the only one any later connection of that print may show.
class PinnedCertificate {
 public:
  /// The certificate `http` shows now (the first of its chain); none on a connection without
  /// TLS, or when libcups cannot say.
  static std::optional<PinnedCertificate> shownBy(http_t* http);

  /// Whether `http` shows exactly this certificate now.
  bool isShownBy(http_t* http) const;

  bool operator==(const PinnedCertificate&) const = default;

 private:
  explicit PinnedCertificate(std::string der) : der_(std::move(der)) {}
  std::string der_;
};

/// A printer's certificate judged as CUPS' ipp backend judges it, the first time a print reaches
/// the printer: a self-signed one the first time; afterwards the one saved in libcups' store for
/// the host name (~/.cups/ssl, or the server's ssl folder for root), or a newer one valid for the
/// name; nothing invalid or expired.
struct TrustAsCupsDoes {};

/// What the certificate of a new connection to an ipps printer must be.
using CertificateTrust = std::variant<TrustAsCupsDoes, PinnedCertificate>;

/// A connection to an IPP printer itself.
struct DeviceConnection {
  HttpConnection http;
  std::string uri;       ///< the printer URI it was made for
  std::string address;   ///< the address it was made at, when DNS-SD resolved one; else empty
  std::string resource;  ///< the resource that URI names, e.g. "/ipp/print"
  std::string host;      ///< the URI's host name, the name its certificate is trusted under
  /// For ipps, the printer's certificate as this connection first showed it; none for ipp.
  std::optional<PinnedCertificate> certificate;
  /// The certificate replaces an expired saved one for the same name (libcups' renewal).
  bool renewed = false;
};

/// Why a printer could not be connected to.
enum class DeviceFailure {
  none,
  unreachable,  ///< the URI cannot be parsed, or nobody answered
  /// An ipps printer whose certificate is not trusted: not the pinned one, or not trusted as
  /// CUPS' ipp backend trusts (changed since it was saved, invalid or expired).
  untrusted,
};

/// Connects to the IPP printer at `uri` (ipp:// or ipps://, encrypted for ipps) with the
/// time-outs of connectToPrintSystem; at `address` when given (the address DNS-SD resolved its
/// host name to), else at the URI's host. An ipps printer's certificate must pass `trust`:
/// TrustAsCupsDoes for the first connection of a print, the PinnedCertificate it showed then for
/// every later one. None, with `failure` set when given, when no trusted connection could be
/// made. Nothing is saved in libcups' store here (rememberCertificate).
std::optional<DeviceConnection> connectToDevice(const std::string& uri, const std::string& address,
                                                const CertificateTrust& trust,
                                                DeviceFailure* failure = nullptr);

/// Saves the certificate of `connection` in libcups' store under its host name when none is
/// saved there yet, or when it renews the saved one: called only once the printer has been
/// confirmed as the queue's, so that a stranger answering first under the printer's name is
/// never trusted for later runs.
void rememberCertificate(const DeviceConnection& connection);

/// Sends `request` (left to the caller, as cupsSendRequest leaves it) to `resource` on `http`
/// like cupsSendRequest, but, with a `pinned` certificate, never over a connection that shows
/// another one: libcups reconnects by itself (a new TLS handshake, never checked) when the last
/// answer said "Connection: close" or did not end cleanly, so such a connection is reconnected
/// here first and checked before the request goes out; and since libcups also reconnects when
/// the request cannot be written, the connection is checked again once it is written, before
/// any answer is read or any document byte sent. Without one (cupsd, an ipp:// printer) it is
/// cupsSendRequest. Returns libcups' HTTP status, or HTTP_STATUS_ERROR with `*untrusted` set
/// when the connection showed another certificate (then it must not be used).
http_status_t sendCheckedRequest(http_t* http, const std::optional<PinnedCertificate>& pinned,
                                 ipp_t* request, const char* resource, size_t length,
                                 bool* untrusted);

/// cupsDoRequest over sendCheckedRequest (plain cupsDoRequest without a `pinned` certificate):
/// takes and frees `request`; none when nothing was answered or, with `*untrusted` set, when the
/// connection showed another certificate.
IppMessage doCheckedRequest(http_t* http, const std::optional<PinnedCertificate>& pinned,
                            ipp_t* request, const char* resource, bool* untrusted);

}  // namespace vardelle::printing
