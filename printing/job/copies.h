#pragma once

// Copies, their collation and the sides of the sheet: one rule that every route reads. Each copy
// is made exactly once, by the document the helper writes or by what the print system hands the
// job's copies to (pdftopdf, a driver's backend, the printer), never by both; and the sides the
// user saved reach the printer in the same words on every route.

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

/// What the user saved about copies and sides.
struct CopiesAndSides {
  int copies = 1;
  bool collated = false;        ///< whole sets rather than each sheet repeated
  std::string sides = kOneSided;  ///< kOneSided, kTwoSidedLongEdge or kTwoSidedShortEdge
};

/// Read from `settings` for the queue of `ppd` (none for a queue without one): the copies (1
/// without any, at most 99); collated as pdftopdf reads it (an explicit Collate, else
/// multiple-document-handling, else sheet-collate; uncollated without any); the sides from the
/// PPD's own Duplex choice where the PPD has that option (None, DuplexNoTumble, DuplexTumble:
/// that is what the dialog shows and saves), else from a saved sides. Anything else is one-sided.
CopiesAndSides savedCopiesAndSides(const PrintSettings& settings, const QueuePpd* ppd);

/// The options every job carries for them, in the words of each reader: copies; Collate (read by
/// pdftopdf and CUPS' ipp backend) and multiple-document-handling (IPP's); sides; and, for a PPD
/// with a Duplex option, the Duplex choice that says the same (libcups marks a PPD's own option
/// over sides, so the two must agree).
std::vector<PrintOption> copiesAndSidesOptions(const CopiesAndSides& saved, const QueuePpd* ppd);

/// The saved choices back from a job's options (copiesAndSidesOptions' words).
CopiesAndSides copiesAndSidesOf(const std::vector<PrintOption>& options);

/// How the copies of one job are made.
struct CopiesPlan {
  int inDocument = 1;     ///< how many times the document the helper writes holds each sheet
  bool collated = false;  ///< those copies as whole sets rather than each sheet repeated
  int inJob = 1;          ///< the copies the job asks the print system for
  /// Whether each collated set in the document but the last ends with a blank sheet when it has
  /// an odd number of pages, so that every set starts on a front side (as pdftopdf does).
  bool blankAfterOddSet = false;
};

/// The copies of a job of `pages` pages carrying `options` (jobOptions' result) whose document
/// the helper writes as a PDF (`raster` false) or as a raster handed to the driver with no filter
/// between (`raster` true), for the queue of `ppd` (none for a queue without one):
/// - collated copies of several pages for a PPD that leaves copies to the printer
///   (QueuePpd::printerMakesCopies: Gutenprint's dye-sublimation printers, whose backend prints
///   each page as often as the job asks, so it can only repeat pages; pdftopdf makes collated
///   sets for it and the backend repeats each of them again): all in the document, one in the
///   job, on either route;
/// - otherwise a PDF: one in the document, all in the job; pdftopdf makes them as the PPD asks,
///   or the printer itself;
/// - a raster for a PPD that leaves copies to the printer: one in the document, all in the job;
/// - any other raster: all in the document, collated as saved, each two-sided collated set
///   starting on a front side, and one in the job, since cupsd hands the job's copies to the
///   driver and the backend as well.
CopiesPlan planCopies(const QueuePpd* ppd, bool raster, const std::vector<PrintOption>& options,
                      size_t pages);

/// `options` with their copies set to `copies`.
std::vector<PrintOption> withCopies(std::vector<PrintOption> options, int copies);

}  // namespace vardelle::printing
