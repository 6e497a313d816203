#include "printing/job/job_document.h"

#include <sys/stat.h>

#include "base/print_failure.h"
#include "printing/job/print_view.h"

namespace vardelle::printing {

JobDocument makeDocument(const JobPlan& plan, const artwork::Artwork& artwork,
                         const artwork::PaperGeometry& paper, const PrintRequest& request) {
  const auto offset = request.offsetMM();
  JobDocument document;
  if (plan.raster) {
    // The converted 16 bits reach a Gutenprint driver only in a raster made here: the PDF route
    // hands it 8 bits (see raster_job.h).
    document.format = kCupsRasterFormat;
    document.file = std::make_unique<PrivateTempFile>(
        [&](const ByteSink& sink) {
          document.spans = writeRasterDocument(*plan.raster, artwork, paper, request.scalePercent,
                                               offset.x, offset.y, plan.copies.pages, sink);
        },
        "printing");
    for (const FileSpan& span : document.spans) {
      document.bytes += static_cast<unsigned long long>(span.length);
    }
    return document;
  }

  // Converted pixels are the printer's own values: the job marks them as matched and they go
  // untagged, so no colour management applies the printer profile a second time.
  ArtworkPrintView view(artwork, paper, request.scalePercent, plan.title, offset.x, offset.y);
  document.file = std::make_unique<PrivateTempFile>(
      [&](const ByteSink& sink) {
        try {
          view.printDocument(plan.applicationColor, plan.sheetRotation, sink, plan.copies.pages);
        } catch (const PrintFailure&) {
          // The sheet writer speaks of a preview; here it is the job's document that failed.
          throw PrintFailure("The print document could not be created. Nothing was submitted.");
        }
      },
      "printing");
  if (view.renderingError()) {
    // The whole document is composed before any job exists: the page's own sentence is the
    // complete story, and nothing waits in the queue.
    throw PrintFailure(view.renderingError()->message());
  }
  struct stat written {};
  if (::fstat(document.file->fd(), &written) == 0) {
    document.bytes = static_cast<unsigned long long>(written.st_size);
  }
  return document;
}

}  // namespace vardelle::printing
