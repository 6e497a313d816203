#pragma once

// Copies, their collation and the sides of the sheet: one rule that every route reads, written as
// the README's table "Copies, collation and sides" is. Each copy is made exactly once, by the
// document the helper writes or by what the print system hands the job's copies to (pdftopdf, a
// driver's backend, the printer), never by both; every collated two-sided set starts on a front
// side; no page is printed on both faces of one sheet; and the sides the user saved reach the
// printer in the same words on every route.

#include <cstddef>
#include <string>
#include <vector>

#include "printing/cups/queue_ppd.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// IPP's words for the sides of a sheet.
inline constexpr const char* kOneSided = "one-sided";
inline constexpr const char* kTwoSidedLongEdge = "two-sided-long-edge";
inline constexpr const char* kTwoSidedShortEdge = "two-sided-short-edge";

/// IPP's words for collated and uncollated copies (multiple-document-handling).
inline constexpr const char* kCollatedCopies = "separate-documents-collated-copies";
inline constexpr const char* kUncollatedCopies = "separate-documents-uncollated-copies";

/// What the user saved about copies and sides.
struct CopiesAndSides {
  int copies = 1;
  bool collated = false;          ///< whole sets rather than each sheet repeated
  std::string sides = kOneSided;  ///< kOneSided, kTwoSidedLongEdge or kTwoSidedShortEdge
};

/// Read from `settings` for the queue of `ppd` (none for a queue without one): the copies (1
/// without any, at most 99); collated as pdftopdf reads it (an explicit Collate, else
/// multiple-document-handling, else sheet-collate; uncollated without any); the sides from the
/// PPD's own Duplex choice where the PPD has that option (None, DuplexNoTumble, DuplexTumble:
/// that is what the dialog shows and saves); one-sided on a Gutenprint PPD without it (Gutenprint
/// names two-sided printing Duplex wherever its driver has it); else from a saved sides. Anything
/// else is one-sided.
CopiesAndSides savedCopiesAndSides(const PrintSettings& settings, const QueuePpd* ppd);

/// Whether `settings` ask for collated copies (as savedCopiesAndSides reads them).
bool savedCollation(const PrintSettings& settings);

/// Keeps the dialog's Collate box in `settings` as every job reads it: Collate, without the
/// multiple-document-handling or sheet-collate a driver's tab may have left. False when the store
/// refuses the entry.
[[nodiscard]] bool saveCollation(PrintSettings& settings, bool collated);

/// The road a job's document takes, as far as its copies go.
enum class DocumentRoad {
  /// A PDF through the local queue: pdftopdf, the driver, the backend and the printer after it.
  pdfToQueue,
  /// A PDF straight to the driverless printer behind the queue (the device route).
  pdfToPrinter,
  /// A CUPS raster through the local queue straight to a Gutenprint driver: no pdftopdf runs.
  rasterToDriver,
};

/// What can make the copies on a job's road, as the queue and the printer say it.
struct CopyFacts {
  /// The queue's PPD has pdftopdf make them (QueuePpd::filtersMakeCopies).
  bool filtersMakeCopies = false;
  /// The driver's backend prints every page as often as the job asks
  /// (QueuePpd::backendRepeatsPages): it can repeat pages, never sets.
  bool backendRepeatsPages = false;
  /// On the device route, the most copies the printer makes itself: the upper bound of its
  /// copies-supported, 1 when it lists none.
  int printerCopiesUpTo = 1;
  /// On the device route, the printer's multiple-document-handling-supported.
  std::vector<std::string> printerDocumentHandling;
};

/// Who makes the copies of one job.
enum class CopyMaker {
  /// pdftopdf on the queue, from the one set the document holds.
  filters,
  /// The printer, from the one set the document holds and the job's copies and collation (on
  /// the queue route pdftopdf hands them on to it).
  printer,
  /// Gutenprint's dye-sublimation backend, printing every page of the one set as often as the
  /// job asks.
  backend,
  /// The document the helper writes: it holds every copy and the job asks for one.
  document,
};

/// A blank side in CopiesPlan::pages.
inline constexpr int kBlankSide = -1;

/// How the copies of one job are made and said.
struct CopiesPlan {
  CopyMaker maker = CopyMaker::document;
  /// The document's sides in order: the artwork page (from 0) each one shows, or kBlankSide.
  std::vector<int> pages;
  int jobCopies = 1;              ///< the copies the job asks for
  bool collated = false;          ///< the collation the job asks for, when jobCopies > 1
  std::string sides = kOneSided;  ///< the sides the job asks for
  /// How many copies the document holds (1 unless the document makes them).
  int copiesInDocument = 1;

  bool operator==(const CopiesPlan&) const = default;
};

/// The plan for `saved` copies of a `pages`-page artwork on `road`, row by row as the README's
/// table has it:
/// - straight to a driverless printer: the printer, when it makes that many copies (`facts`'
///   printerCopiesUpTo) with the saved collation among its multiple-document-handling; otherwise
///   the document;
/// - a backend that repeats pages (either road through the queue): the backend for one copy, one
///   page or uncollated copies; the document for collated copies of several pages;
/// - a raster straight to any other driver: the document;
/// - a PDF through the queue: pdftopdf where the PPD has it make copies, otherwise the printer.
/// The document then holds one set (0 … pages − 1) and the job asks for every copy; or, when the
/// document makes them, it holds them all and the job asks for one: whole sets, each two-sided
/// set of an odd number of pages followed by a blank side but the last, or each page repeated
/// for uncollated one-sided copies. Copies that pdftopdf or the document make of two-sided
/// sheets are collated whatever was saved (pdftopdf does the same): repeated pages would put one
/// page on both faces of a sheet. A printer's own uncollated two-sided copies repeat whole sheets.
/// A backend that repeats pages is asked for uncollated copies (of one page they are the same):
/// asked for collated ones, pdftopdf would make the sets before it.
CopiesPlan planCopies(const CopiesAndSides& saved, DocumentRoad road, const CopyFacts& facts,
                      size_t pages);

/// planCopies for the copies and sides `settings` save on the queue of `ppd` (savedCopiesAndSides).
CopiesPlan planCopies(const PrintSettings& settings, const QueuePpd* ppd, DocumentRoad road,
                      const CopyFacts& facts, size_t pages);

/// The options a job carries for `plan`, in the words of each reader: copies; Collate (read by
/// pdftopdf and CUPS' ipp backend) and multiple-document-handling (IPP's) when it asks for
/// several; sides; and, for a PPD with a Duplex option, the Duplex choice that says the same
/// (libcups marks a PPD's own option over sides, so the two must agree).
std::vector<PrintOption> copiesAndSidesOptions(const CopiesPlan& plan, const QueuePpd* ppd);

}  // namespace vardelle::printing
