#include "printing/job/submission.h"

#include <cups/cups.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdio>
#include <filesystem>

#include "base/diagnostics.h"
#include "base/files.h"
#include "base/print_failure.h"
#include "printing/cups/paper_measurement.h"
#include "printing/cups/printers.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/same_sheet.h"
#include "printing/cups/temporary_queue.h"
#include "printing/job/copies.h"
#include "printing/job/job_options.h"
#include "printing/job/print_view.h"
#include "printing/job/raster_job.h"
#include "printing/job/route.h"
#include "printing/job/send_job.h"
#include "printing/settings/print_color_entries.h"
#include "printing/settings/restore.h"

namespace vardelle::printing {
namespace {

HelperResult submitted(const NativeSnapshot& snapshot, const DocumentInfo& document) {
  HelperResult result;
  result.ok = true;
  result.summary = snapshot.summary;
  result.document = document;
  result.submitted = true;
  return result;
}

}  // namespace

void applyCopiesOverride(PrintSettings& settings, std::optional<int64_t> copies) {
  if (!copies) return;
  if (*copies < 1 || *copies > 99) {
    throw PrintFailure("Copies must be a whole number between 1 and 99.");
  }
  if (!settings.setOption(PrintSettings::kCopies, std::to_string(*copies))) {
    throw PrintFailure("The printer settings could not accept the requested number of copies.");
  }
}

namespace {

std::string gigabytes(unsigned long long bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
  return text;
}

}  // namespace

void requireSpoolRoom(unsigned long long bytes, int copies,
                      std::optional<unsigned long long> spoolFree) {
  const std::string what = "The print job would be " + gigabytes(bytes) +
                           (copies > 1 ? " (it holds all " + std::to_string(copies) +
                                             " copies, made by this computer)"
                                       : "");
  if (bytes > kMaxJobDocumentBytes) {
    throw PrintFailure(what + ", more than the " + gigabytes(kMaxJobDocumentBytes) +
                       " one print may take on disk while it waits. Nothing was sent. " +
                       (copies > 1 ? "Print fewer copies at a time." : "Print at a smaller size."));
  }
  if (spoolFree && bytes > *spoolFree) {
    throw PrintFailure(what + ", more than the " + gigabytes(*spoolFree) +
                       " left on the disk that holds the print queue. Nothing was sent. Free "
                       "some disk space" +
                       (copies > 1 ? ", or print fewer copies at a time." : ", then try again."));
  }
}

std::optional<unsigned long long> localSpoolFree() {
  const std::string server = cupsServer();
  const bool local = server.starts_with("/") || server == "localhost" ||
                     server == "localhost:631" || server == "127.0.0.1:631";
  struct statvfs disk {};
  if (!local || ::statvfs("/var/spool/cups", &disk) != 0) return std::nullopt;
  return static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
}

std::string jobTitle(const PrintRequest& request) {
  if (!request.filePath) return "Artwork";
  // The last component as a file path names it, a trailing slash ignored as a URL would.
  std::filesystem::path path(*request.filePath);
  std::string name = path.filename().string();
  if (name.empty()) name = path.parent_path().filename().string();
  return name.empty() ? "Artwork" : name;
}

namespace {

// Everything the job needs from the queue it goes to, checked: the printer the preset names,
// the paper it was saved with, and the options and route the job will carry.
struct CheckedQueue {
  std::string identifier;  // the queue's printer-uuid when it was checked
  PrintSettings settings;
  MeasuredPaper current;
  std::optional<QueuePpd> ppd;
  std::vector<PrintOption> sent;
  RouteFacts facts;
  PrintRoute route = PrintRoute::localQueue;
};

CheckedQueue checkQueue(const PrintRequest& request, const NativeSnapshot& snapshot,
                        const ColorManagement& color, int64_t pages) {
  const PrinterRecord queue = requireQueue(request.printerName);
  PrintSettings settings = restorePrintInfo(snapshot);
  // The printer behind the queue is found (and confirmed) once, for the identity when the
  // request names the printer rather than the queue, and for the route.
  std::optional<RouteFacts> facts;
  verifyPrinter(settings, request, [&] { return printerUuidBehind(settings.printerName(), facts); });

  MeasuredPaper current = measurePaper(settings);
  current.geometry.validate();
  requireSamePaper(snapshot.paper, current.geometry);
  std::optional<QueuePpd> ppd = QueuePpd::forQueue(settings.printerName());
  if (ppd) requireExactSizeChoices(*ppd);

  configurePrintPagination(settings, pages);
  applyCopiesOverride(settings, request.copies);
  configureApplicationColor(settings, color);

  // The options exactly as the job will carry them: the colour entries must have survived into
  // what reaches CUPS, not just into the settings they were made from.
  const std::string media = settings.media().value_or(current.mediaName);
  std::vector<PrintOption> sent = jobOptions(settings, media, ppd ? &*ppd : nullptr);
  verifyApplicationColor(sent, color);

  // The road to the printer, read now: a driverless printer behind a cupsd that drops
  // print-scaling gets the job straight from here (see chooseRoute).
  if (!facts) facts = readRouteFacts(settings.printerName());
  const PrintRoute route = chooseRoute(*facts);
  if (route == PrintRoute::printerDevice) requireUnscaledPrinting(*facts, settings.printerName());
  return {queue.identifier, std::move(settings), std::move(current), std::move(ppd),
          std::move(sent),  std::move(*facts),   route};
}

// The queue as the job is about to be created. A temporary queue CUPS made for a printer it only
// discovered goes a minute after its last use, and a large document can take longer than that
// to make: it is made again and checked as the first was, and the document already made must
// still be the one it takes.
void recheckQueueForJob(CheckedQueue& checked, const PrintRequest& request,
                        const NativeSnapshot& snapshot, const ColorManagement& color,
                        int64_t pages) {
  if (std::optional<PrinterRecord> now = findPrinter(request.printerName);
      now && now->identifier == checked.identifier) {
    return;
  }
  CheckedQueue again = checkQueue(request, snapshot, color, pages);
  if (again.route != checked.route || again.sent != checked.sent ||
      !(again.current.sheet == checked.current.sheet)) {
    throw PrintFailure("The printer \"" + std::string(queueName(request.printerName)) +
                       "\" was set up again by the print system with other settings while the "
                       "artwork was being prepared, so nothing was sent to it. Print again.");
  }
  checked = std::move(again);
}

}  // namespace

HelperResult submit(const artwork::Artwork& artwork, const PrintRequest& request,
                    const NativeSnapshot& snapshot, const DocumentInfo& document) {
  if (document.fits != true) {
    throw PrintFailure("The artwork exceeds the paper. Reduce scale or choose larger paper.");
  }
  if (document.requiresClipping && request.acceptMarginClipping != true) {
    throw PrintFailure(
        "The artwork extends into unprintable margins. Preview the clipped result and "
        "acknowledge margin clipping before printing.");
  }
  const ColorManagement color = request.colorSettings();
  requireDriverColorCorrectionDisabled(color);
  const auto pages = static_cast<int64_t>(artwork.pages.size());
  CheckedQueue checked = checkQueue(request, snapshot, color, pages);
  const PrintSettings& settings = checked.settings;
  const QueuePpd* ppd = checked.ppd ? &*checked.ppd : nullptr;

  const std::string title = jobTitle(request);
  const auto offset = request.offsetMM();
  // The saved paper, not the measurement: the preview was drawn on it.
  ArtworkPrintView view(artwork, snapshot.paper, request.scalePercent, title, offset.x, offset.y);

  // No filter turns a landscape sheet onto the printer's portrait media on the device route:
  // the sheets arrive turned as the filters would have turned them.
  const int rotation = checked.route == PrintRoute::printerDevice
                           ? sheetRotation(settings.orientation().value_or(Orientation::portrait))
                           : 0;

  if (takesRasterRoute(ppd, color, checked.route)) {
    // The converted 16 bits reach a Gutenprint driver only in a raster made here: the PDF route
    // hands it 8 bits (see raster_job.h). Everything is settled and every sheet drawn before
    // any job exists, as for a PDF.
    const RasterJob raster =
        planRasterJob(*ppd, settings, checked.sent, checked.current.geometry, artwork.pages.size());
    std::vector<FileSpan> spans;
    const PrivateTempFile rasterFile(
        [&](const ByteSink& sink) {
          spans = writeRasterDocument(raster, artwork, snapshot.paper, request.scalePercent,
                                      offset.x, offset.y, sink);
        },
        "printing");
    unsigned long long bytes = 0;
    for (const FileSpan& span : spans) bytes += static_cast<unsigned long long>(span.length);
    requireSpoolRoom(bytes, raster.copies.inDocument, localSpoolFree());
    debugStopPoint("document-made");
    recheckQueueForJob(checked, request, snapshot, color, pages);
    sendJob(checked.route, checked.facts, checked.settings.printerName(),
            withCopies(checked.sent, raster.copies.inJob), checked.current.sheet, title,
            rasterFile.fd(), kCupsRasterFormat, spans);
    return submitted(snapshot, document);
  }

  // Converted pixels are the printer's own values: the job marks them as matched and they go
  // untagged, so no colour management applies the printer profile a second time.
  // Into an unnamed file rather than memory: the document of a large photograph is as large as
  // its converted samples.
  const CopiesPlan copies = planCopies(ppd, false, checked.sent, artwork.pages.size());
  const PrivateTempFile pdf(
      [&](const ByteSink& sink) {
        try {
          view.printDocument(color.applicationManaged(), rotation, sink, copies.inDocument);
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
  if (::fstat(pdf.fd(), &written) == 0) {
    requireSpoolRoom(static_cast<unsigned long long>(written.st_size), copies.inDocument,
                     localSpoolFree());
  }
  debugStopPoint("document-made");
  recheckQueueForJob(checked, request, snapshot, color, pages);
  sendJob(checked.route, checked.facts, checked.settings.printerName(),
          withCopies(checked.sent, copies.inJob), checked.current.sheet, title, pdf.fd());
  return submitted(snapshot, document);
}

}  // namespace vardelle::printing
