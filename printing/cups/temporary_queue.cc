#include "printing/cups/temporary_queue.h"

#include <chrono>
#include <thread>

#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/dnssd_printers.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_printer.h"

namespace vardelle::printing {
namespace {

// CUPS offers only printers that take PDF or a raster it can make.
bool printable(const AnnouncedPrinter& printer) {
  const std::string pdl = printer.txtValue("pdl").value_or("");
  for (std::string_view format : {"application/pdf", "image/pwg-raster", "image/urf"}) {
    for (size_t at = pdl.find(format); at != std::string::npos; at = pdl.find(format, at + 1)) {
      const size_t end = at + format.size();
      if ((at == 0 || pdl[at - 1] == ',') && (end == pdl.size() || pdl[end] == ',')) return true;
    }
  }
  return false;
}

std::optional<ipp_pstate_t> printerState(http_t* http, const std::string& uri) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-state");
  IppMessage response(cupsDoRequest(http, request, "/"));
  ipp_attribute_t* state =
      response ? ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM) : nullptr;
  if (!state) return std::nullopt;
  return static_cast<ipp_pstate_t>(ippGetInteger(state, 0));
}

}  // namespace

PrinterRecord requireQueue(std::string_view name) {
  HttpConnection http = connectToPrintSystem();
  if (std::optional<PrinterRecord> queue = findPrinter(http.get(), name)) return *queue;
  // An instance ("queue/instance") belongs to a queue that exists.
  if (name.find('/') != std::string_view::npos) throw PrintFailure(kPrinterNotInstalled);

  DnssdLook look = browseIppPrinters(kPrinterSearchLimit);
  std::vector<AnnouncedPrinter> offered;
  for (AnnouncedPrinter& printer : look.printers) {
    if (printable(printer)) offered.push_back(std::move(printer));
  }
  const AnnouncedPrinter* printer = onePrinterNamed(std::string(name), offered, cupsQueueName);
  if (!printer) throw PrintFailure(kPrinterNotInstalled);

  char deviceUri[HTTP_MAX_URI];
  const std::string fullName = printer->name + "." + printer->type + "." + printer->domain + ".";
  httpAssembleURI(HTTP_URI_CODING_ALL, deviceUri, sizeof deviceUri,
                  printer->secure() ? "ipps" : "ipp", nullptr, fullName.c_str(), 0, "/");
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_CREATE_LOCAL_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, deviceUri);
  const std::string queue(name);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, queue.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr,
               printer->name.c_str());
  IppMessage response(cupsDoRequest(http.get(), request, "/"));
  ipp_attribute_t* made =
      response ? ippFindAttribute(response.get(), "printer-uri-supported", IPP_TAG_URI) : nullptr;
  if (!made) {
    debugNote(std::string("CUPS-Create-Local-Printer: ") + cupsLastErrorString());
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure(kPrinterNotInstalled);
  }
  // cupsd asks the printer for its description on a thread of its own; the queue is stopped
  // until that is done. CUPS' own clients wait without a limit.
  const std::string uri = ippGetString(made, 0, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + kPrinterSearchLimit;
  for (;;) {
    std::optional<ipp_pstate_t> state = printerState(http.get(), uri);
    if (state && *state != IPP_PSTATE_STOPPED) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      debugNote("the temporary queue " + queue + " was not finished in time");
      throw PrintFailure(kPrintSystemUnavailable);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (std::optional<PrinterRecord> queueMade = findPrinter(http.get(), name)) return *queueMade;
  throw PrintFailure(kPrinterNotInstalled);
}

}  // namespace vardelle::printing
