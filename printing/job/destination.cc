#include "printing/job/destination.h"

#include "base/print_failure.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/temporary_queue.h"
#include "printing/settings/restore.h"

namespace vardelle::printing {

CheckedDestination checkDestination(const PrintRequest& request, const NativeSnapshot& snapshot) {
  CheckedDestination destination;
  destination.identifier = requireQueue(request.printerName).identifier;
  destination.settings = restorePrintInfo(snapshot);
  const std::string& queue = destination.settings.printerName();

  // The printer behind the queue is found (and confirmed) once, for the identity when the
  // request names the printer rather than the queue, and for the route.
  std::optional<RouteFacts> facts;
  verifyPrinter(destination.settings, request, [&] { return printerUuidBehind(queue, facts); });

  destination.paper = measureSavedPaper(destination.settings, snapshot.paper);
  destination.ppd = QueuePpd::forQueue(queue);
  if (destination.ppd) requireExactSizeChoices(*destination.ppd);

  // The road to the printer, read now: a driverless printer behind a cupsd that drops
  // print-scaling gets the job straight from here (see chooseRoute).
  destination.facts = facts ? std::move(*facts) : readRouteFacts(queue);
  destination.route = chooseRoute(destination.facts);
  if (destination.route == PrintRoute::printerDevice) {
    requireUnscaledPrinting(destination.facts, queue);
  }
  return destination;
}

std::string destinationSetUpAgain(const PrintRequest& request) {
  return "The printer \"" + std::string(queueName(request.printerName)) +
         "\" was set up again by the print system with other settings while the artwork was "
         "being prepared, so nothing was sent to it. Print again.";
}

}  // namespace vardelle::printing
