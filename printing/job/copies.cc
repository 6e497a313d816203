#include "printing/job/copies.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/text.h"

namespace vardelle::printing {
namespace {

std::optional<std::string> lowered(const std::vector<PrintOption>& options,
                                   std::string_view name) {
  for (const PrintOption& option : options) {
    if (option.name == name) return asciiLowercase(option.value);
  }
  return std::nullopt;
}

// As pdftopdf decides it: an explicit Collate, else multiple-document-handling, else
// sheet-collate; uncollated without any of them.
bool collatedCopies(const std::vector<PrintOption>& options) {
  if (auto collate = lowered(options, "Collate");
      collate && (*collate == "true" || *collate == "on" || *collate == "yes")) {
    return true;
  }
  if (auto handling = lowered(options, "multiple-document-handling")) {
    return *handling != "separate-documents-uncollated-copies";
  }
  if (auto sheets = lowered(options, "sheet-collate")) return *sheets != "uncollated";
  return false;
}

}  // namespace

CopiesPlan planCopies(const QueuePpd* ppd, bool raster, const std::vector<PrintOption>& options) {
  const std::optional<std::string> asked = lowered(options, "copies");
  const int copies = asked ? std::max(1, std::atoi(asked->c_str())) : 1;
  CopiesPlan plan;
  if (!raster || (ppd && ppd->printerMakesCopies())) {
    plan.inJob = copies;
    return plan;
  }
  plan.inDocument = copies;
  plan.collated = collatedCopies(options);
  return plan;
}

std::vector<PrintOption> withCopies(std::vector<PrintOption> options, int copies) {
  for (PrintOption& option : options) {
    if (option.name == "copies") option.value = std::to_string(copies);
  }
  return options;
}

}  // namespace vardelle::printing
