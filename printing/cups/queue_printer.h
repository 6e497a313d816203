#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/cups/dnssd_printers.h"

namespace vardelle::printing {

/// How long the network is searched for the printer behind a queue (CUPS itself would wait up to
/// 75 s for a DNS-SD name).
inline constexpr std::chrono::milliseconds kPrinterSearchLimit{6000};

/// A DNS-SD service that a device URI names.
struct NamedService {
  std::string name;                 ///< "Studio Photo"
  std::string type;                 ///< "_ipp._tcp" or "_ipps._tcp"
  std::string domain;               ///< "local"
  std::optional<std::string> uuid;  ///< the "?uuid=" of a dnssd:// URI
};

/// The service named by a device URI that reaches its printer through DNS-SD: CUPS' dnssd
/// backend ("dnssd://Studio%20Photo._ipp._tcp.local/?uuid=…"), a driverless or discovered
/// destination ("ipp://Studio%20Photo._ipp._tcp.local./", also ipps and _ipps._tcp). None for
/// any other URI, and for one whose service part is not a service instance of an IPP type.
std::optional<NamedService> serviceInDeviceUri(std::string_view deviceUri);

/// True for the device URI of a queue that cups-browsed made for printers it found
/// ("implicitclass://Studio_Photo/"): the printer is known only to cups-browsed, by name.
bool isCupsBrowsedDevice(std::string_view deviceUri);

/// The queue name cups-browsed gives the printer announced as `service` (its default
/// LocalQueueNamingIPPPrinter DNS-SD): letters and digits kept, every run of anything else one
/// "_", none at either end.
std::string cupsBrowsedQueueName(std::string_view service);

/// The destination name CUPS gives a printer it found only through DNS-SD (and its temporary
/// queue): letters and digits kept, every run of anything else one "_", none at the end; at most
/// 127 characters.
std::string cupsQueueName(std::string_view service);

/// A UUID as compared: without "urn:uuid:", in lower case (DNS-SD records and printers write
/// either).
std::string uuidValue(std::string_view uuid);

/// What a queue says of the printer it was made for.
struct QueueFacts {
  std::string name;       ///< the queue's name
  std::string deviceUri;  ///< its device-uri
  /// The printer the queue was made for, as its PPD names it (*Manufacturer, *ModelName), both
  /// taken from the printer's printer-make-and-model by whatever made the queue: cups-browsed
  /// keeps it whole as the model name, CUPS splits it at its first blank ("Vardelle" and the
  /// rest, of which it may keep only the last word). Empty for a queue without a PPD.
  std::string manufacturer;
  std::string modelName;
  std::string makeAndModel;  ///< the queue's printer-make-and-model, for a queue without a PPD
};

/// The one printer among `found` that the queue stands for: for a device URI that names a
/// service, that service (of exactly that name; the same type preferred); for a cups-browsed
/// queue, every printer whose service name cups-browsed turns into the queue's name, a printer
/// announcing both _ipp._tcp and _ipps._tcp (one UUID) counting once, over TLS as cups-browsed
/// then prints. Throws PrintFailure, naming the queue: no such printer on the network, several
/// printers that could be meant (naming them), a dnssd:// queue made for another printer (its
/// ?uuid= against the service's UUID).
AnnouncedPrinter choosePrinter(const QueueFacts& queue, const std::vector<AnnouncedPrinter>& found);

/// The one printer among `found` whose service name `nameOf` turns into `name` (compared
/// without regard to case); the same printer announced as _ipp._tcp and _ipps._tcp (one UUID)
/// counts once and is taken over TLS. None when no printer goes by that name. Throws
/// PrintFailure naming them when several printers do.
const AnnouncedPrinter* onePrinterNamed(const std::string& name,
                                        const std::vector<AnnouncedPrinter>& found,
                                        std::string (*nameOf)(std::string_view));

/// What the printer itself says of itself (Get-Printer-Attributes).
struct PrinterIdentity {
  std::optional<std::string> makeAndModel;  ///< printer-make-and-model
  std::optional<std::string> uuid;          ///< printer-uuid, "urn:uuid:…"
};

/// Throws PrintFailure unless the printer that answered is the one the queue was made for: its
/// printer-make-and-model begins with the queue's manufacturer and ends with its model name
/// (without regard to case or runs of blanks; "Hewlett-Packard" and "Hewlett Packard" are
/// CUPS' "HP"), or equals the queue's printer-make-and-model when the queue has no PPD; and its
/// printer-uuid is the one DNS-SD announced for it (and the dnssd:// URI's, when it names one).
/// A printer that does not say its make and model cannot be confirmed.
void confirmPrinter(const QueueFacts& queue, const AnnouncedPrinter& service,
                    const PrinterIdentity& printer);

/// The sentence for Avahi not running, so that no printer can be found by name.
std::string dnssdUnavailable(const std::string& queue);

}  // namespace vardelle::printing
