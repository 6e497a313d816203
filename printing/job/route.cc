#include "printing/job/route.h"

#include <algorithm>

#include "base/print_failure.h"
#include "printing/cups/printers_internal.h"

namespace vardelle::printing {
namespace {

bool contains(const std::vector<std::string>& values, std::string_view wanted) {
  return std::find(values.begin(), values.end(), wanted) != values.end();
}

}  // namespace

PrintRoute chooseRoute(const RouteFacts& facts) {
  if (!needsPrinterFacts(facts) || !facts.printerAsked) return PrintRoute::localQueue;
  // cupsd passes a PDF straight to a printer that takes PDF (its cheapest filter), without the
  // print-scaling the job asked for: the printer would apply its own default, commonly "auto",
  // and fit the whole sheet into its margins. Only a job ticket written here avoids that.
  if (!facts.printScalingSupported.empty() && contains(facts.documentFormats, "application/pdf")) {
    return PrintRoute::printerDevice;
  }
  return PrintRoute::localQueue;
}

std::string deviceJobWhereabouts(const std::string& printerUri) {
  return " This job went straight to the printer (" + printerUri +
         ") and is in the printer's own job list, not in the print queue.";
}

void requireUnscaledPrinting(const RouteFacts& facts, const std::string& destination) {
  if (contains(facts.printScalingSupported, "none")) return;
  throw PrintFailure("The printer \"" + std::string(queueName(destination)) +
                     "\" cannot print pages without scaling them (print-scaling \"none\"), so "
                     "the artwork would not print at exact size. Nothing was sent to it.");
}

}  // namespace vardelle::printing
