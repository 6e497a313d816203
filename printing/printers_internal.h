#pragma once

// Printer lookup on a connection the caller already holds (printing/*.cc only).

#include <optional>
#include <string_view>

#include "printing/cups_connection.h"
#include "printing/printers.h"

namespace vardelle::printing {

/// The queue part of a destination name ("queue/instance" → "queue").
std::string_view queueName(std::string_view destination);

/// The named destination ("queue" or "queue/instance") on an open connection. Throws PrintFailure:
/// kPrintSystemUnavailable when the print system does not answer, else kPrinterNotInstalled.
Destination namedDestination(http_t* http, std::string_view name);

/// findPrinter on an open connection.
std::optional<PrinterRecord> findPrinter(http_t* http, std::string_view name);

}  // namespace vardelle::printing
