#pragma once

#include <string_view>

#include "printing/cups/printers.h"

namespace vardelle::printing {

/// The CUPS queue `name`, as findPrinter finds it. When cupsd has no queue of that name but one
/// printer announced through DNS-SD goes by it (the name CUPS gives a printer it only discovered,
/// cupsQueueName), the temporary queue CUPS itself makes for such a printer at its first job is
/// made here the same way (CUPS-Create-Local-Printer with the service's device URI,
/// "ipp://Studio%20Photo._ipp._tcp.local./"), and returned once cupsd has finished it. cupsd
/// removes such a queue a minute after it was last used; asking again makes it again. Throws
/// PrintFailure: kPrinterNotInstalled when there is neither, the several-printers sentence when
/// more than one printer goes by the name, and kPrintSystemUnavailable when cupsd does not answer
/// or does not finish the queue within kPrinterSearchLimit.
PrinterRecord requireQueue(std::string_view name);

}  // namespace vardelle::printing
