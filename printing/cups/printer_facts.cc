#include "printing/cups/printer_facts.h"

#include <algorithm>
#include <charconv>

#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printer_trust.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/queue_printer.h"

namespace vardelle::printing {
namespace {

std::vector<std::string> strings(ipp_t* response, const char* name) {
  std::vector<std::string> values;
  ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
  for (int i = 0; attribute && i < ippGetCount(attribute); ++i) {
    if (const char* value = ippGetString(attribute, i, nullptr)) values.emplace_back(value);
  }
  return values;
}

IppMessage getPrinterAttributes(http_t* http, const std::string& uri, const std::string& resource,
                                std::initializer_list<const char*> wanted,
                                const std::optional<PinnedCertificate>& certificate = {},
                                bool* untrusted = nullptr) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  std::vector<const char*> names(wanted);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(names.size()), nullptr, names.data());
  if (untrusted) return doCheckedRequest(http, certificate, request, resource.c_str(), untrusted);
  return IppMessage(cupsDoRequest(http, request, resource.c_str()));
}

}  // namespace

bool cupsForwardsPrintScaling(std::string_view version) {
  int major = 0, minor = 0, patch = 0;
  const char* at = version.data();
  const char* end = version.data() + version.size();
  auto number = [&](int& value) {
    auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc()) return false;
    at = next;
    return true;
  };
  if (!number(major) || at == end || *at++ != '.' || !number(minor)) return false;
  // "2.5b1" and "2.4" have no patch number: the release they name is newer than its .0.
  if (at != end && *at == '.') {
    ++at;
    if (!number(patch)) patch = 0;
  }
  if (major != 2) return major > 2;
  if (minor != 4) return minor > 4;
  return patch >= 8;
}

bool isIppDevice(std::string_view deviceUri) {
  return ((deviceUri.starts_with("ipp://") && deviceUri.size() > 6) ||
          (deviceUri.starts_with("ipps://") && deviceUri.size() > 7)) &&
         !serviceInDeviceUri(deviceUri);
}

bool isDnssdDevice(std::string_view deviceUri) {
  return serviceInDeviceUri(deviceUri) || isCupsBrowsedDevice(deviceUri);
}

bool needsPrinterFacts(const RouteFacts& facts) {
  return (isIppDevice(facts.deviceUri) || isDnssdDevice(facts.deviceUri)) &&
         !cupsForwardsPrintScaling(facts.cupsVersion);
}

RouteFacts readQueueFacts(const std::string& destination) {
  HttpConnection http = connectToPrintSystem();
  const std::optional<std::string> uri = localQueueUri(destination);
  if (!uri) throw PrintFailure(kPrinterNotInstalled);
  IppMessage queueAttributes = getPrinterAttributes(
      http.get(), *uri, "/", {"device-uri", "cups-version", "printer-make-and-model"});
  const ipp_status_t status = cupsLastError();
  if (printSystemUnavailable(status)) throw PrintFailure(kPrintSystemUnavailable);
  if (!queueAttributes || status > IPP_STATUS_OK_EVENTS_COMPLETE) {
    throw PrintFailure(kPrinterNotInstalled);
  }
  RouteFacts facts;
  if (auto values = strings(queueAttributes.get(), "device-uri"); !values.empty()) {
    facts.deviceUri = values.front();
  }
  if (auto values = strings(queueAttributes.get(), "cups-version"); !values.empty()) {
    facts.cupsVersion = values.front();
  }
  if (auto values = strings(queueAttributes.get(), "printer-make-and-model"); !values.empty()) {
    facts.makeAndModel = values.front();
  }
  return facts;
}

RouteFacts readRouteFacts(const std::string& destination, bool askPrinter) {
  RouteFacts facts = readQueueFacts(destination);
  const bool networkPrinter = isIppDevice(facts.deviceUri) || isDnssdDevice(facts.deviceUri);
  if (!needsPrinterFacts(facts) && !(askPrinter && networkPrinter)) return facts;
  const std::string queue(queueName(destination));
  QueueFacts described{queue, facts.deviceUri, "", "", facts.makeAndModel};
  if (isDnssdDevice(facts.deviceUri)) {
    // The make and model the queue was made for, as the printer itself said it then.
    if (std::optional<QueuePpd> ppd = QueuePpd::forQueue(queue)) {
      described.manufacturer = ppd->manufacturer();
      described.modelName = ppd->modelName();
    }
    DnssdLook look = browseIppPrinters(kPrinterSearchLimit);
    if (!look.available) throw PrintFailure(dnssdUnavailable(queue));
    facts.service = choosePrinter(described, look.printers);
    facts.printerUri = facts.service->uri();
    facts.printerAddress = facts.service->address;
    debugNote("the printer behind " + queue + " is " + facts.printerUri + " (" +
              facts.service->name + ", " + facts.service->type + ")");
  } else {
    facts.printerUri = facts.deviceUri;
  }
  // Sending through a queue whose printer may apply its own scaling cannot be made exact, so a
  // printer that does not answer is said plainly instead of being queued for later.
  const std::string unreachable = printerUnreachable(destination);
  DeviceFailure failure = DeviceFailure::none;
  auto device =
      connectToDevice(facts.printerUri, facts.printerAddress, TrustAsCupsDoes{}, &failure);
  if (failure == DeviceFailure::untrusted) throw PrintFailure(printerNotTrusted(destination));
  if (!device) throw PrintFailure(unreachable);
  bool untrusted = false;
  IppMessage printer = getPrinterAttributes(
      device->http.get(), facts.printerUri, device->resource,
      {"print-scaling-supported", "document-format-supported", "media-col-database",
       "media-col-ready", "printer-make-and-model", "printer-uuid", "copies-supported",
       "multiple-document-handling-supported"},
      device->certificate, &untrusted);
  if (untrusted) throw PrintFailure(printerNotTrusted(destination));
  if (!printer || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    throw PrintFailure(unreachable);
  }
  if (facts.service) {
    PrinterIdentity identity;
    if (auto values = strings(printer.get(), "printer-make-and-model"); !values.empty()) {
      identity.makeAndModel = values.front();
    }
    if (auto values = strings(printer.get(), "printer-uuid"); !values.empty()) {
      identity.uuid = values.front();
    }
    confirmPrinter(described, *facts.service, identity);
    facts.printerUuid = identity.uuid;
    if (!facts.printerUuid) {
      if (std::optional<std::string> announced = facts.service->txtValue("UUID");
          announced && !announced->empty()) {
        facts.printerUuid = "urn:uuid:" + uuidValue(*announced);
      }
    }
  } else if (auto values = strings(printer.get(), "printer-uuid"); !values.empty()) {
    facts.printerUuid = values.front();
  }
  // Only a printer confirmed as the queue's is remembered as trusted for later runs.
  rememberCertificate(*device);
  facts.printerCertificate = device->certificate;
  facts.printerAsked = true;
  facts.printScalingSupported = strings(printer.get(), "print-scaling-supported");
  facts.documentFormats = strings(printer.get(), "document-format-supported");
  facts.media = printerMedia(printer.get());
  if (ipp_attribute_t* copies =
          ippFindAttribute(printer.get(), "copies-supported", IPP_TAG_RANGE)) {
    int upper = 1;
    ippGetRange(copies, 0, &upper);
    facts.printerCopiesUpTo = std::max(1, upper);
  }
  facts.documentHandling = strings(printer.get(), "multiple-document-handling-supported");
  return facts;
}

std::optional<std::string> printerUuidBehind(const std::string& destination,
                                             std::optional<RouteFacts>& facts) {
  // A queue made for a DNS-SD name and a UUID (the Printers panel's) says the printer's UUID
  // itself, and CUPS' backend holds the printer to it: the printer need not be asked.
  if (std::optional<NamedService> named = serviceInDeviceUri(readQueueFacts(destination).deviceUri);
      named && named->uuid && !uuidValue(*named->uuid).empty()) {
    return "urn:uuid:" + uuidValue(*named->uuid);
  }
  facts = readRouteFacts(destination, true);
  return facts->printerUuid;
}

PrinterBehind printerBehind(const std::string& destination) {
  return [destination] {
    std::optional<RouteFacts> facts;
    return printerUuidBehind(destination, facts);
  };
}

std::string printerUnreachable(const std::string& destination) {
  return "The printer behind \"" + std::string(queueName(destination)) +
         "\" could not be reached to send the artwork at exact size. Make sure it is switched "
         "on and connected, then try again.";
}

std::string printerNotTrusted(const std::string& destination) {
  return "The printer behind \"" + std::string(queueName(destination)) +
         "\" showed a security certificate that this computer does not trust (not the one it "
         "showed before, or an invalid or expired one), so the artwork was not sent. If the "
         "printer was reset or replaced, remove its saved certificate (in ~/.cups/ssl) and try "
         "again.";
}

std::string printerStillBusy(const std::string& destination, std::chrono::milliseconds waited) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
  return "The printer behind \"" + std::string(queueName(destination)) +
         "\" was still busy with other work after " + std::to_string(seconds) +
         " seconds of waiting, so nothing was sent to it. Try again once it has finished.";
}

}  // namespace vardelle::printing
