#pragma once

// Who makes a job's copies. Each copy is made exactly once: by the document the helper writes, or
// by what the print system hands the job's copies to (pdftopdf, a driver's backend, the printer),
// never by both.

#include <vector>

#include "printing/cups/queue_ppd.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// How the copies of one job are made.
struct CopiesPlan {
  int inDocument = 1;     ///< how many times the document the helper writes holds each sheet
  bool collated = false;  ///< those copies as whole sets rather than each sheet repeated
  int inJob = 1;          ///< the copies the job asks the print system for
};

/// The copies of a job carrying `options` (jobOptions' result: its copies and their collation)
/// whose document the helper writes as a PDF (`raster` false) or as a raster handed to the driver
/// with no filter between (`raster` true), for the queue of `ppd` (none for a queue without one):
/// - a PDF: one in the document, all in the job; pdftopdf makes them as the PPD asks, or the
///   printer itself;
/// - a raster for a PPD that leaves copies to the printer (QueuePpd::printerMakesCopies:
///   Gutenprint's dye-sublimation printers, whose backend prints each page as often as the job
///   asks): one in the document, all in the job;
/// - any other raster: all in the document, collated as pdftopdf reads Collate,
///   multiple-document-handling and sheet-collate, and one in the job, since cupsd hands the
///   job's copies to the driver and the backend as well.
CopiesPlan planCopies(const QueuePpd* ppd, bool raster, const std::vector<PrintOption>& options);

/// `options` with their copies set to `copies`.
std::vector<PrintOption> withCopies(std::vector<PrintOption> options, int copies);

}  // namespace vardelle::printing
