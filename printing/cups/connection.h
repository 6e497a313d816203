#pragma once

// The libcups handles of the printing library. Only printing/*.cc include this header.

#include <cups/cups.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "printing/cups/printers.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

struct HttpCloser {
  void operator()(http_t* http) const noexcept { httpClose(http); }
};
/// A connection to cupsd.
using HttpConnection = std::unique_ptr<http_t, HttpCloser>;

struct IppDeleter {
  void operator()(ipp_t* ipp) const noexcept { ippDelete(ipp); }
};
using IppMessage = std::unique_ptr<ipp_t, IppDeleter>;

struct DestinationFreer {
  void operator()(cups_dest_t* dest) const noexcept { cupsFreeDests(1, dest); }
};
/// One destination as cupsGetNamedDest returns it.
using Destination = std::unique_ptr<cups_dest_t, DestinationFreer>;

struct DestinationInfoFreer {
  void operator()(cups_dinfo_t* info) const noexcept { cupsFreeDestInfo(info); }
};
/// A destination's capabilities, media database included.
using DestinationInfo = std::unique_ptr<cups_dinfo_t, DestinationInfoFreer>;

/// Job options in libcups' own form (cupsAddOption), for the calls that take them. Move-only.
class CupsOptions {
 public:
  explicit CupsOptions(const std::vector<PrintOption>& options) {
    for (const PrintOption& option : options) {
      count_ = cupsAddOption(option.name.c_str(), option.value.c_str(), count_, &options_);
    }
  }
  ~CupsOptions() { cupsFreeOptions(count_, options_); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;

  int count() const { return count_; }
  cups_option_t* get() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t* options_ = nullptr;
};

/// Opens a connection to the print system named by CUPS_SERVER (or the client configuration),
/// giving up after 5 s when nobody answers and after 10 s of silence on an open connection.
/// Throws PrintFailure(kPrintSystemUnavailable) when no connection can be made.
HttpConnection connectToPrintSystem();

/// A connection to an IPP printer itself and the resource its URI names.
struct DeviceConnection {
  HttpConnection http;
  std::string resource;  ///< e.g. "/ipp/print"
  std::string host;      ///< the URI's host name, the name its certificate is trusted under
  /// For ipps, the printer's certificate (DER) as this connection first showed it; empty for
  /// ipp.
  std::string certificate;
  /// The certificate replaces an expired saved one for the same name (libcups' renewal).
  bool renewed = false;
};

/// Why a printer could not be connected to.
enum class DeviceFailure {
  none,
  unreachable,  ///< the URI cannot be parsed, or nobody answered
  /// An ipps printer whose certificate this computer does not trust: not the one trusted on
  /// first use (changed), invalid or expired (libcups' own judgement, as CUPS' ipp backend
  /// makes it).
  untrusted,
};

/// Connects to the IPP printer at `uri` (ipp:// or ipps://, encrypted for ipps) with the
/// time-outs of connectToPrintSystem; at `address` when given (the address DNS-SD resolved its
/// host name to), else at the URI's host. An ipps printer's certificate is trusted the way CUPS'
/// ipp backend trusts it: on first use, saved in libcups' credential store under the URI's host
/// name (~/.cups/ssl, or the server's ssl folder for root), and refused afterwards when it is not
/// the saved one (unless renewed), invalid or expired. None, with `failure` set when given, when
/// no trusted connection could be made. With `certificate` (a DeviceConnection::certificate of
/// the same printer), the connection must show exactly that certificate instead: every
/// connection of one print talks to the printer that was confirmed at its first. Nothing is
/// saved in the store here (saveCertificate).
std::optional<DeviceConnection> connectToDevice(const std::string& uri,
                                                const std::string& address = {},
                                                DeviceFailure* failure = nullptr,
                                                const std::string& certificate = {});

/// Saves the certificate of `connection` in libcups' store under its host name when none is
/// saved there yet, or when it renews the saved one: called only once the printer has been
/// confirmed as the queue's, so that a stranger answering first under the printer's name is never
/// trusted for later runs.
void saveCertificate(const DeviceConnection& connection);

/// True when `http` is plain (no `certificate` was trusted) or shows exactly `certificate` now.
bool showsCertificate(http_t* http, const std::string& certificate);

/// Sends `request` (left to the caller, as cupsSendRequest leaves it) to `resource` on `http`
/// like cupsSendRequest, but never over a connection whose certificate is not `certificate`:
/// libcups reconnects by itself (a new TLS handshake, never checked) when the last answer said
/// "Connection: close" or did not end cleanly, so such a connection is reconnected here first
/// and checked before the request goes out; and since libcups also reconnects when the request
/// cannot be written, the connection is checked again once it is written, before any answer is
/// read or any document byte sent. Returns libcups' HTTP status, or HTTP_STATUS_ERROR with
/// `*untrusted` set when the connection showed another certificate (then it must not be used).
http_status_t sendCheckedRequest(http_t* http, const std::string& certificate, ipp_t* request,
                                 const char* resource, size_t length, bool* untrusted);

/// cupsDoRequest over sendCheckedRequest (plain cupsDoRequest without a `certificate`): takes
/// and frees `request`; none when nothing was answered or, with `*untrusted` set, when the
/// connection showed another certificate.
IppMessage doCheckedRequest(http_t* http, const std::string& certificate, ipp_t* request,
                            const char* resource, bool* untrusted);

/// A VARDELLE_DEBUG note of what libcups last said, after `what` ("Create-Job: …").
void cupsNote(const char* what);

/// True for the IPP statuses libcups reports when the print system itself could not serve a
/// request (unreachable, timed out, shutting down), as opposed to a refusal of the request.
bool printSystemUnavailable(ipp_status_t status);

}  // namespace vardelle::printing
