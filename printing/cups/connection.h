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

/// How long a new connection waits for the other side to answer.
inline constexpr int kConnectMilliseconds = 5000;

/// Makes `http` give up after 10 s of silence instead of waiting for ever on a server that
/// accepted the connection but stopped answering.
void giveUpWhenSilent(http_t* http);

/// Opens a connection to the print system named by CUPS_SERVER (or the client configuration),
/// giving up after 5 s when nobody answers and after 10 s of silence on an open connection.
/// Throws PrintFailure(kPrintSystemUnavailable) when no connection can be made.
HttpConnection connectToPrintSystem();

/// A VARDELLE_DEBUG note of what libcups last said, after `what` ("Create-Job: …").
void cupsNote(const char* what);

/// True for the IPP statuses libcups reports when the print system itself could not serve a
/// request (unreachable, timed out, shutting down), as opposed to a refusal of the request.
bool printSystemUnavailable(ipp_status_t status);

}  // namespace vardelle::printing
