#pragma once

// The first step of a print: where it goes, checked before anything is made for it.

#include <optional>
#include <string>

#include "base/records.h"
#include "printing/cups/paper_measurement.h"
#include "printing/cups/queue_ppd.h"
#include "printing/job/route.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {

/// The destination of a print, checked: the queue, the settings restored for it, the printer
/// behind it, the paper, the driver, and the road to the printer.
struct CheckedDestination {
  std::string identifier;       ///< the queue's printer-uuid when it was checked
  PrintSettings settings;       ///< the preset's settings, restored for the queue
  MeasuredPaper paper;          ///< the paper as measured now, the same as the saved one
  std::optional<QueuePpd> ppd;  ///< the queue's PPD; none for a queue without one
  RouteFacts facts;             ///< what decides the route, and the printer's own facts
  PrintRoute route = PrintRoute::localQueue;

  /// The PPD, or null for a queue without one.
  const QueuePpd* queuePpd() const { return ppd ? &*ppd : nullptr; }
};

/// Checks where the request's print goes, in this order: the queue (requireQueue: a temporary
/// queue CUPS dropped is made again), the preset's settings restored for it, the printer the
/// preset names (verifyPrinter; the printer behind the queue is found and confirmed once, for
/// the identity and for the route, and an ipps printer's certificate pinned), the paper measured
/// and compared with the saved one (requireSamePaper), a driver able to keep the size
/// (requireExactSizeChoices), and the route with its facts (chooseRoute; a printer reached
/// directly must print unscaled). Throws PrintFailure for each refusal, before any job exists.
CheckedDestination checkDestination(const PrintRequest& request, const NativeSnapshot& snapshot);

/// The sentence for a queue that CUPS made again with other settings while the document was being
/// made for it.
std::string destinationSetUpAgain(const PrintRequest& request);

}  // namespace vardelle::printing
