#pragma once

// Printer lookup on a connection the caller already holds (printing/*.cc only).

#include <optional>
#include <string>
#include <string_view>

#include "printing/cups/connection.h"
#include "printing/cups/printers.h"

namespace vardelle::printing {

/// The queue part of a destination name ("queue/instance" → "queue").
std::string_view queueName(std::string_view destination);

/// The URI by which cupsd knows the queue of `destination` ("queue" or "queue/instance"):
/// ipp://localhost:<port>/printers/<queue>, the queue name encoded. None for a name no URI can
/// carry (no queue can have it).
std::optional<std::string> localQueueUri(std::string_view destination);

/// The HTTP resource of the queue of `destination`: /printers/<queue>.
std::string localQueueResource(std::string_view destination);

/// The named destination ("queue" or "queue/instance") on an open connection. Throws PrintFailure:
/// kPrintSystemUnavailable when the print system does not answer, else kPrinterNotInstalled.
Destination namedDestination(http_t* http, std::string_view name);

/// findPrinter on an open connection.
std::optional<PrinterRecord> findPrinter(http_t* http, std::string_view name);

}  // namespace vardelle::printing
