#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelle::printing {

/// `address` as Avahi writes it, with "%<interface name>" added for an IPv6 link-local address
/// (fe80::/10) heard on the interface numbered `interfaceIndex`, so that it can be reached.
std::string scopedAddress(const std::string& address, int interfaceIndex);

/// One IPP printer service as DNS-SD announces it, resolved.
struct AnnouncedPrinter {
  std::string name;      ///< the service instance name, e.g. "Studio Photo"
  std::string type;      ///< "_ipp._tcp" or "_ipps._tcp"
  std::string domain;    ///< "local"
  std::string hostName;  ///< the host the service names, e.g. "studio.local"
  std::string address;   ///< the address it resolved to, e.g. "192.168.1.20", "fe80::1%eth0"
  uint16_t port = 0;
  bool onLoopback = false;  ///< announced on the loopback interface
  /// The TXT record, keys as announced; a key without "=" has an empty value.
  std::map<std::string, std::string> txt;

  /// The TXT value of `key`, compared without regard to case (as DNS-SD keys are); none when
  /// absent.
  std::optional<std::string> txtValue(std::string_view key) const;
  /// True for a service of type _ipps._tcp (IPP over TLS).
  bool secure() const { return type.starts_with("_ipps."); }
  /// The printer's URI as CUPS resolves a service: ipp or ipps by type; "localhost" for a service
  /// on the loopback interface, else the host name; the resource from the "rp" key ("/" without
  /// one).
  std::string uri() const;
};

/// What one look at the network found.
struct DnssdLook {
  bool available = false;  ///< whether Avahi answered at all
  std::vector<AnnouncedPrinter> printers;
};

/// Browses _ipp._tcp and _ipps._tcp through Avahi and resolves every service found, for at most
/// `limit`: it returns as soon as Avahi has reported every service it knows of and each has been
/// resolved or failed, and otherwise when the limit passes, with what was resolved by then. A
/// service announced on several interfaces or address families is listed once, preferring the
/// loopback interface and IPv4. Never throws; `available` is false when Avahi cannot be reached.
DnssdLook browseIppPrinters(std::chrono::milliseconds limit);

}  // namespace vardelle::printing
