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
    if (equalsIgnoringAsciiCase(option.name, name)) return asciiLowercase(option.value);
  }
  return std::nullopt;
}

// As pdftopdf decides it: an explicit Collate, else multiple-document-handling, else
// sheet-collate; uncollated without any of them.
bool collatedCopies(const std::vector<PrintOption>& options) {
  if (auto collate = lowered(options, "Collate")) {
    return *collate == "true" || *collate == "on" || *collate == "yes";
  }
  if (auto handling = lowered(options, "multiple-document-handling")) {
    return *handling != "separate-documents-uncollated-copies";
  }
  if (auto sheets = lowered(options, "sheet-collate")) return *sheets != "uncollated";
  return false;
}

std::string sidesNamed(std::string_view value) {
  for (const char* sides : {kOneSided, kTwoSidedLongEdge, kTwoSidedShortEdge}) {
    if (value == sides) return sides;
  }
  return kOneSided;
}

}  // namespace

CopiesAndSides savedCopiesAndSides(const PrintSettings& settings, const QueuePpd* ppd) {
  CopiesAndSides saved;
  saved.copies = static_cast<int>(std::clamp<int64_t>(settings.copies().value_or(1), 1, 99));
  const std::vector<PrintOption> options = settings.options();
  saved.collated = collatedCopies(options);
  if (ppd && ppd->hasOption("Duplex")) {
    const std::string duplex = lowered(options, "Duplex").value_or("none");
    saved.sides = duplex == "duplexnotumble"  ? kTwoSidedLongEdge
                  : duplex == "duplextumble" ? kTwoSidedShortEdge
                                             : kOneSided;
  } else {
    saved.sides = sidesNamed(lowered(options, "sides").value_or(kOneSided));
  }
  return saved;
}

std::vector<PrintOption> copiesAndSidesOptions(const CopiesAndSides& saved, const QueuePpd* ppd) {
  std::vector<PrintOption> options = {{"copies", std::to_string(saved.copies)}};
  // Collation means something only to several copies.
  if (saved.copies > 1) {
    options.push_back({"Collate", saved.collated ? "True" : "False"});
    options.push_back({"multiple-document-handling", saved.collated
                                                         ? "separate-documents-collated-copies"
                                                         : "separate-documents-uncollated-copies"});
  }
  options.push_back({"sides", saved.sides});
  if (ppd && ppd->hasOption("Duplex")) {
    const char* duplex = saved.sides == kTwoSidedLongEdge    ? "DuplexNoTumble"
                         : saved.sides == kTwoSidedShortEdge ? "DuplexTumble"
                                                             : "None";
    if (ppd->hasChoice("Duplex", duplex)) options.push_back({"Duplex", duplex});
  }
  return options;
}

CopiesAndSides copiesAndSidesOf(const std::vector<PrintOption>& options) {
  CopiesAndSides saved;
  if (auto copies = lowered(options, "copies")) {
    saved.copies = std::clamp(std::atoi(copies->c_str()), 1, 99);
  }
  saved.collated = collatedCopies(options);
  saved.sides = sidesNamed(lowered(options, "sides").value_or(kOneSided));
  return saved;
}

CopiesPlan planCopies(const QueuePpd* ppd, bool raster, const std::vector<PrintOption>& options,
                      size_t pages) {
  const CopiesAndSides saved = copiesAndSidesOf(options);
  const bool printerRepeatsPages = ppd && ppd->printerMakesCopies();
  CopiesPlan plan;
  if (printerRepeatsPages && saved.collated && saved.copies > 1 && pages > 1) {
    plan.inDocument = saved.copies;
    plan.collated = true;
    return plan;
  }
  if (!raster || printerRepeatsPages) {
    plan.inJob = saved.copies;
    return plan;
  }
  plan.inDocument = saved.copies;
  plan.collated = saved.collated;
  plan.blankAfterOddSet = plan.collated && plan.inDocument > 1 && saved.sides != kOneSided;
  return plan;
}

std::vector<PrintOption> withCopies(std::vector<PrintOption> options, int copies) {
  for (PrintOption& option : options) {
    if (option.name == "copies") option.value = std::to_string(copies);
  }
  return options;
}

}  // namespace vardelle::printing
