#pragma once

// Whether optional content (layers) prints. A document's layers are decided here once, as a
// printed page draws them, so that what the helper writes needs no reader to understand layers.

#include "artwork/pdf_document.h"
// pdf_document.h has set up qpdf's headers.
#include <qpdf/QPDFObjGen.hh>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardelle::artwork {

/// The print state of a document's optional content: its default configuration (/OCProperties
/// /D: /BaseState, then /ON, then /OFF, and /Intent), then its usage application for the Print
/// event (each /AS entry with /Event /Print whose /Category holds /Print sets the groups it lists
/// to their /Usage /Print /PrintState). A viewer shows the View state instead (/ViewState,
/// /Zoom), which this never applies.
///
/// Malformed parts have defined results, as the PDF reference gives them: a group that is missing
/// or not listed in /OCProperties /OCGs counts as on; a membership dictionary without valid
/// groups, or with an unknown /P, counts as /AnyOn; a /VE expression that cannot be evaluated (a
/// cycle, more than kDeepestExpression levels, more than kLargestExpression terms, an unknown
/// operator) is ignored for /OCGs and /P, as by a reader that does not read /VE. Work is linear
/// in what the document holds; nothing here throws for what a file contains.
class OptionalContent {
 public:
  static constexpr int kDeepestExpression = 64;
  static constexpr int kLargestExpression = 4096;

  /// The print state of `pdf`'s optional content; none when its catalog has no /OCProperties
  /// dictionary, since every reader then draws all content as it is.
  static std::optional<OptionalContent> of(QPDF& pdf);

  /// Whether content marked with `oc` prints: `oc` is an optional content group, a membership
  /// dictionary (/Type /OCMD), or anything else (a missing object, a wrong type), which prints.
  bool prints(QPDFObjectHandle oc);

  /// The /Name of each group listed in /OCGs that does not print, in the order listed (unnamed
  /// groups as "").
  std::vector<std::string> groupsNotPrinted() const;

 private:
  OptionalContent() = default;

  bool groupPrints(QPDFObjectHandle group) const;
  bool membershipPrints(QPDFObjectHandle membership);
  std::optional<bool> expression(QPDFObjectHandle term, int depth, int& budget,
                                 std::set<QPDFObjGen>& open) const;

  /// Every group listed, by object, with whether it prints.
  std::map<QPDFObjGen, bool> groups_;
  /// The listed groups in their order, with their names.
  std::vector<std::pair<QPDFObjGen, std::string>> listed_;
  /// Membership dictionaries already decided.
  std::map<QPDFObjGen, bool> memberships_;
};

/// The warning that names the layers of `pdf` that will not print, or none when every layer
/// prints (or the document has none). Names are shortened and counted past the first few, so that
/// a file cannot make the warning long.
std::optional<std::string> layersNotPrintedWarning(QPDF& pdf);

}  // namespace vardelle::artwork
