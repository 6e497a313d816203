#include "printing/cups/printers.h"

#include <algorithm>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_printer.h"

namespace vardelle::printing {
namespace {

std::string textAttribute(ipp_t* response, const char* name) {
  ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
  const char* text = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
  return text ? text : "";
}

}  // namespace

std::string_view queueName(std::string_view destination) {
  return destination.substr(0, destination.find('/'));
}

std::optional<std::string> localQueueUri(std::string_view destination) {
  const std::string queue(queueName(destination));
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                       "/printers/%s", queue.c_str()) != HTTP_URI_STATUS_OK) {
    return std::nullopt;
  }
  return std::string(uri);
}

std::string localQueueResource(std::string_view destination) {
  return "/printers/" + std::string(queueName(destination));
}

std::optional<PrinterRecord> findPrinter(http_t* http, std::string_view name) {
  std::string queue(queueName(name));
  // cupsd would answer "bad request" for names it could never have created; those printers
  // simply do not exist.
  if (queue.empty() || queue.size() > 127 || !std::all_of(queue.begin(), queue.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && c != 0x7F && c != '#';
      })) {
    return std::nullopt;
  }

  const std::optional<std::string> uri = localQueueUri(queue);
  if (!uri) return std::nullopt;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri->c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  static const char* const kWanted[] = {"printer-name", "printer-uuid", "printer-info",
                                        "printer-make-and-model"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  // cupsDoRequest takes the request and frees it.
  IppMessage response(cupsDoRequest(http, request, "/"));
  ipp_status_t status = cupsLastError();

  if (status == IPP_STATUS_ERROR_NOT_FOUND) return std::nullopt;
  if (printSystemUnavailable(status)) throw PrintFailure(kPrintSystemUnavailable);
  if (!response || status > IPP_STATUS_OK_EVENTS_COMPLETE) {
    throw PrintFailure("The print system refused to describe the printer (" +
                       std::string(cupsLastErrorString()) + ").");
  }
  PrinterRecord record{textAttribute(response.get(), "printer-name"),
                       textAttribute(response.get(), "printer-uuid"),
                       textAttribute(response.get(), "printer-info"),
                       textAttribute(response.get(), "printer-make-and-model")};
  // cupsd matches names without regard to case; the settings name one queue exactly.
  if (record.name != queue) return std::nullopt;
  return record;
}

std::optional<PrinterRecord> findPrinter(std::string_view name) {
  HttpConnection http = connectToPrintSystem();
  return findPrinter(http.get(), name);
}

PrinterRecord requireInstalledPrinter(std::string_view name) {
  auto printer = findPrinter(name);
  if (!printer) throw PrintFailure(kPrinterNotInstalled);
  return *printer;
}

Destination namedDestination(http_t* http, std::string_view name) {
  const std::string queue(queueName(name));
  const std::string instance =
      name.size() > queue.size() ? std::string(name.substr(queue.size() + 1)) : "";
  Destination dest(
      cupsGetNamedDest(http, queue.c_str(), instance.empty() ? nullptr : instance.c_str()));
  if (!dest) {
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure(kPrinterNotInstalled);
  }
  return dest;
}

std::optional<std::string> currentPrinterID(const PrintSettings& settings) {
  auto printer = findPrinter(settings.printerName());
  if (!printer || printer->identifier.empty()) return std::nullopt;
  return printer->identifier;
}

void verifyPrinter(const PrintSettings& settings, const PrintRequest& request,
                   const PrinterBehind& printerBehind) {
  if (settings.printerName() != request.printerName) {
    throw PrintFailure(
        "The printer changed inside Printer Settings. Select that printer in the app and save its "
        "own preset instead.");
  }
  if (!request.printerId) return;
  if (currentPrinterID(settings) == request.printerId) return;
  // The printer's own UUID stays while its queue is made again; the queue's does not.
  const std::optional<std::string> behind = printerBehind ? printerBehind() : std::nullopt;
  if (!behind || uuidValue(*behind).empty() ||
      uuidValue(*behind) != uuidValue(*request.printerId)) {
    throw PrintFailure(
        "The native printer identity does not match this preset. Refresh the printer list and "
        "save Printer Settings again.");
  }
}

}  // namespace vardelle::printing
