#pragma once

// The third step of a print: the job's document, made whole before any job exists.

#include <memory>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "base/files.h"
#include "base/records.h"
#include "printing/job/ipp_job.h"
#include "printing/job/job_plan.h"

namespace vardelle::printing {

/// A job's document in a private unnamed file (a large photograph's document is as large as its
/// converted samples; nothing of it is left behind however the run ends).
struct JobDocument {
  std::unique_ptr<PrivateTempFile> file;
  const char* format = CUPS_FORMAT_PDF;  ///< its MIME type
  /// The stretches of the file that make the document, in order (a raster's sheets written
  /// once and sent as often as the plan shows them); empty: the whole file.
  std::vector<FileSpan> spans;
  unsigned long long bytes = 0;  ///< the size of the document as sent
};

/// Makes the document of `plan` from `artwork` (already colour-managed): every side of
/// plan.copies.pages in order, each artwork page drawn on `paper` (the saved paper: the preview
/// was drawn on it) with the request's scale and offset exactly as the preview draws it, a blank
/// side where the plan has one. A PDF for the queue and the printer, or the 16-bit CUPS raster of
/// the Gutenprint route. Throws PrintFailure: a page that cannot be drawn (its own sentence; the
/// whole document is made before any job exists), "The print document could not be created.
/// Nothing was submitted." when the document cannot be written, and the failures of the
/// temporary file.
JobDocument makeDocument(const JobPlan& plan, const artwork::Artwork& artwork,
                         const artwork::PaperGeometry& paper, const PrintRequest& request);

}  // namespace vardelle::printing
