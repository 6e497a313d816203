#include "printing/job/copies.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/text.h"

namespace vardelle::printing {
namespace {

std::optional<std::string> lowered(const std::vector<PrintOption>& options, std::string_view name) {
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
    return *handling != kUncollatedCopies;
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

CopyMaker copyMaker(const CopiesAndSides& saved, DocumentRoad road, const CopyFacts& facts,
                    size_t pages) {
  if (road == DocumentRoad::pdfToPrinter) {
    const char* handling = saved.collated ? kCollatedCopies : kUncollatedCopies;
    const bool printerMakesThem =
        saved.copies == 1 ||
        (facts.printerCopiesUpTo >= saved.copies &&
         std::find(facts.printerDocumentHandling.begin(), facts.printerDocumentHandling.end(),
                   handling) != facts.printerDocumentHandling.end());
    return printerMakesThem ? CopyMaker::printer : CopyMaker::document;
  }
  if (facts.backendRepeatsPages) {
    // Sets handed to pdftopdf would be repeated page by page once more by the backend: 3
    // collated copies of 2 pages came out as 18 prints.
    return saved.copies > 1 && saved.collated && pages > 1 ? CopyMaker::document
                                                           : CopyMaker::backend;
  }
  if (road == DocumentRoad::rasterToDriver) return CopyMaker::document;
  return facts.filtersMakeCopies ? CopyMaker::filters : CopyMaker::printer;
}

}  // namespace

CopiesAndSides savedCopiesAndSides(const PrintSettings& settings, const QueuePpd* ppd) {
  CopiesAndSides saved;
  saved.copies = static_cast<int>(std::clamp<int64_t>(settings.copies().value_or(1), 1, 99));
  const std::vector<PrintOption> options = settings.options();
  saved.collated = collatedCopies(options);
  if (ppd && ppd->hasOption("Duplex")) {
    const std::string duplex = lowered(options, "Duplex").value_or("none");
    saved.sides = duplex == "duplexnotumble" ? kTwoSidedLongEdge
                  : duplex == "duplextumble" ? kTwoSidedShortEdge
                                             : kOneSided;
  } else if (ppd && ppd->attribute("StpDriverName")) {
    saved.sides = kOneSided;
  } else {
    saved.sides = sidesNamed(lowered(options, "sides").value_or(kOneSided));
  }
  return saved;
}

bool savedCollation(const PrintSettings& settings) { return collatedCopies(settings.options()); }

bool saveCollation(PrintSettings& settings, bool collated) {
  settings.removeOption("multiple-document-handling");
  settings.removeOption("sheet-collate");
  return settings.setOption("Collate", collated ? "True" : "False");
}

CopiesPlan planCopies(const CopiesAndSides& saved, DocumentRoad road, const CopyFacts& facts,
                      size_t pages) {
  CopiesPlan plan;
  plan.maker = copyMaker(saved, road, facts, pages);
  plan.sides = saved.sides;
  const bool twoSided = saved.sides != kOneSided;
  // Copies made one side after another, by pdftopdf or in the document, repeat sides, not
  // sheets: uncollated, page 1's copies would face each other on one sheet.
  const bool madeBySide = plan.maker == CopyMaker::filters || plan.maker == CopyMaker::document;
  plan.collated = saved.collated || (twoSided && madeBySide);
  // A backend that repeats pages makes one page's copies, or uncollated ones, and is asked for
  // them so: pdftopdf, asked for collated copies on such a queue, makes the sets itself, and the
  // backend then repeats each of their pages again (2 collated copies of one page printed 4).
  if (plan.maker == CopyMaker::backend) plan.collated = false;
  const int count = static_cast<int>(pages);
  if (plan.maker != CopyMaker::document) {
    for (int page = 0; page < count; ++page) plan.pages.push_back(page);
    plan.jobCopies = saved.copies;
    return plan;
  }
  plan.copiesInDocument = saved.copies;
  if (plan.collated) {
    for (int copy = 0; copy < saved.copies; ++copy) {
      for (int page = 0; page < count; ++page) plan.pages.push_back(page);
      // The next set starts on a front side.
      if (twoSided && count % 2 == 1 && copy + 1 < saved.copies) plan.pages.push_back(kBlankSide);
    }
  } else {
    for (int page = 0; page < count; ++page) {
      for (int copy = 0; copy < saved.copies; ++copy) plan.pages.push_back(page);
    }
  }
  return plan;
}

CopiesPlan planCopies(const PrintSettings& settings, const QueuePpd* ppd, DocumentRoad road,
                      const CopyFacts& facts, size_t pages) {
  return planCopies(savedCopiesAndSides(settings, ppd), road, facts, pages);
}

std::vector<PrintOption> copiesAndSidesOptions(const CopiesPlan& plan, const QueuePpd* ppd) {
  std::vector<PrintOption> options = {{"copies", std::to_string(plan.jobCopies)}};
  // Collation means something only to several copies.
  if (plan.jobCopies > 1) {
    options.push_back({"Collate", plan.collated ? "True" : "False"});
    options.push_back(
        {"multiple-document-handling", plan.collated ? kCollatedCopies : kUncollatedCopies});
  }
  options.push_back({"sides", plan.sides});
  if (ppd && ppd->hasOption("Duplex")) {
    const char* duplex = plan.sides == kTwoSidedLongEdge    ? "DuplexNoTumble"
                         : plan.sides == kTwoSidedShortEdge ? "DuplexTumble"
                                                            : "None";
    if (ppd->hasChoice("Duplex", duplex)) options.push_back({"Duplex", duplex});
  }
  return options;
}

}  // namespace vardelle::printing
