#include "printing/submission.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "base/diagnostics.h"
#include "base/files.h"
#include "base/print_failure.h"
#include "printing/cups_connection.h"
#include "printing/cups_paper.h"
#include "printing/exact_size_options.h"
#include "printing/ipp_job.h"
#include "printing/print_color_entries.h"
#include "printing/print_route.h"
#include "printing/print_view.h"
#include "printing/printers.h"
#include "printing/printers_internal.h"
#include "printing/queue_ppd.h"
#include "printing/raster_job.h"
#include "printing/restore.h"

namespace vardelle::printing {
namespace {

void logCups(const char* what) { debugNote(std::string(what) + ": " + cupsLastErrorString()); }

// The destination and its capabilities on `http`; a queue that vanished since the checks is
// "not installed", a print system that stopped answering is said as such.
std::pair<Destination, DestinationInfo> openDestination(http_t* http, const std::string& name) {
  Destination dest = namedDestination(http, name);
  DestinationInfo info(cupsCopyDestInfo(http, dest.get()));
  if (!info) {
    logCups("cupsCopyDestInfo");
    throw PrintFailure(kPrintSystemUnavailable);
  }
  return {std::move(dest), std::move(info)};
}

// The queue's own entry for `media`, the one the paper was measured from.
MediaEntry queueMediaEntry(http_t* http, const std::string& destination, const std::string& media) {
  auto opened = openDestination(http, destination);
  cups_size_t size{};
  if (!cupsGetDestMediaByName(http, opened.first.get(), opened.second.get(), media.c_str(),
                              CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    throw PrintFailure(
        "The printer's paper or margins changed since this preset was saved. Save Printer "
        "Settings again and preview the result.");
  }
  return {size.width, size.length, size.left, size.bottom, size.right, size.top};
}

// Sends the composed document as one job by `route`. Everything before Create-Job leaves the
// printer untouched; from there on a failure may leave a job behind, so it is said with the
// queue tail.
void sendJob(PrintRoute route, const RouteFacts& facts, const std::string& destination,
             const std::vector<PrintOption>& options, const std::string& media,
             const std::string& title, int documentFd, const char* format = CUPS_FORMAT_PDF,
             const std::vector<FileSpan>& spans = {}) {
  HttpConnection cupsd = connectToPrintSystem();
  if (route == PrintRoute::localQueue) {
    openDestination(cupsd.get(), destination);
    const std::string queue(queueName(destination));
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue.c_str());
    const JobTarget target{cupsd.get(), uri, "/printers/" + queue};
    const int jobId = createCheckedJob(target, title, options);
    sendJobDocument(target, jobId, title, documentFd, format, spans);
    return;
  }
  // The job ticket goes to the printer as written here; the local queue never sees the job.
  const MediaEntry entry = queueMediaEntry(cupsd.get(), destination, media);
  auto device = connectToDevice(facts.deviceUri);
  if (!device) throw PrintFailure(printerUnreachable(destination));
  const JobTarget target{device->http.get(), facts.deviceUri, device->resource};
  const int jobId = createCheckedJob(target, title, deviceJobOptions(options, entry));
  sendJobDocument(target, jobId, title, documentFd);
}

bool isApplicationColor(const ColorManagement& color) { return color.mode == "application"; }

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

void requireSamePaper(const artwork::PaperGeometry& saved, const artwork::PaperGeometry& current) {
  const double pairs[][2] = {
      {saved.width, current.width},
      {saved.height, current.height},
      {saved.imageableX, current.imageableX},
      {saved.imageableY, current.imageableY},
      {saved.imageableWidth, current.imageableWidth},
      {saved.imageableHeight, current.imageableHeight},
  };
  for (const auto& pair : pairs) {
    // Written so that a NaN on either side fails the comparison and is refused.
    if (!(std::fabs(pair[0] - pair[1]) <= kPaperDriftTolerance)) {
      throw PrintFailure(
          "The printer's paper or margins changed since this preset was saved. Save Printer "
          "Settings again and preview the result.");
    }
  }
}

std::string jobTitle(const PrintRequest& request) {
  if (!request.filePath) return "Artwork";
  // The last component as a file path names it, a trailing slash ignored as a URL would.
  std::filesystem::path path(*request.filePath);
  std::string name = path.filename().string();
  if (name.empty()) name = path.parent_path().filename().string();
  return name.empty() ? "Artwork" : name;
}

std::vector<PrintOption> jobOptions(const PrintSettings& settings, const std::string& media,
                                    const QueuePpd* ppd) {
  // The sheets are drawn already turned: an orientation would make the filters turn them again.
  // The colour-matching entries are this application's, not CUPS options.
  static constexpr std::string_view kNeverSent[] = {PrintSettings::kOrientation,
                                                    kColorMatchingModeKey,
                                                    kCustomProfilePathKey,
                                                    "cm-calibration",
                                                    "copies",
                                                    "media"};
  auto sameName = [](std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) ==
             std::tolower(static_cast<unsigned char>(y));
    });
  };
  auto listed = [&](std::string_view name, const auto& names) {
    return std::any_of(std::begin(names), std::end(names),
                       [&](const auto& entry) { return sameName(entry, name); });
  };
  auto exactNamed = [&](std::string_view name) {
    return std::any_of(exactSizeOptions().begin(), exactSizeOptions().end(),
                       [&](const ExactSizeOption& option) { return sameName(option.name, name); });
  };

  std::vector<PrintOption> options;
  for (const PrintOption& option : settings.options()) {
    if (listed(option.name, kNeverSent) || listed(option.name, placementOptionsNeverSent()) ||
        exactNamed(option.name)) {
      continue;
    }
    // The PPD's name for the paper means something only to a queue with that PPD; to a printer
    // reached by IPP alone the media says it.
    if (!ppd && sameName(option.name, PrintSettings::kPageSize)) continue;
    options.push_back(option);
  }
  options.push_back({"media", media});
  for (const ExactSizeOption& option : exactSizeOptions()) {
    // A driver's own option goes only to a queue whose PPD has it: elsewhere it means nothing,
    // and an IPP printer would report it as unsupported.
    if (option.ppdChoice && (!ppd || !ppd->hasOption(option.name))) continue;
    options.push_back({std::string(option.name), std::string(option.value)});
  }
  options.push_back({"copies", std::to_string(settings.copies().value_or(1))});
  for (PrintOption& option : applicationColorJobOptions(settings)) {
    options.push_back(std::move(option));
  }
  return options;
}

std::vector<PrintOption> deviceJobOptions(const std::vector<PrintOption>& options,
                                          const MediaEntry& media) {
  // No filter runs between this job and the printer: these are the CUPS filters' options, and
  // the sheet is named by media-col, never by a name the printer could map to a neighbour.
  static constexpr std::string_view kFilterOnly[] = {
      "media",    "fit-to-page", "fitplot",    "natural-scaling", "page-border",  "mirror",
      "page-set", "outputorder", "job-sheets", "cm-calibration",  "media-source", "media-type",
  };
  auto find = [&](std::string_view name) -> const PrintOption* {
    for (const PrintOption& option : options) {
      if (option.name == name) return &option;
    }
    return nullptr;
  };
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  auto ippName = [](std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
  };

  std::vector<PrintOption> out;
  for (const PrintOption& option : options) {
    if (!ippName(option.name)) continue;
    if (std::find(std::begin(kFilterOnly), std::end(kFilterOnly), option.name) !=
        std::end(kFilterOnly)) {
      continue;
    }
    out.push_back(option);
  }
  // The PPD words of an IPP Everywhere queue for colour and quality, in the printer's own.
  if (const PrintOption* model = find("ColorModel"); model && !find("print-color-mode")) {
    const std::string value = lower(model->value);
    if (value == "gray" || value == "grey" || value == "black" || value == "kgray" ||
        value == "monochrome" || value == "grayscale" || value == "greyscale") {
      out.push_back({"print-color-mode", "monochrome"});
    } else if (value == "rgb" || value == "cmyk" || value == "color" || value == "colour" ||
               value == "adobergb") {
      out.push_back({"print-color-mode", "color"});
    }
  }
  if (const PrintOption* quality = find("cupsPrintQuality"); quality && !find("print-quality")) {
    const std::string value = lower(quality->value);
    if (value == "draft") out.push_back({"print-quality", "3"});
    if (value == "normal") out.push_back({"print-quality", "4"});
    if (value == "high") out.push_back({"print-quality", "5"});
  }

  std::string col = "{media-size={x-dimension=" + std::to_string(media.width) +
                    " y-dimension=" + std::to_string(media.length) + "}" +
                    " media-bottom-margin=" + std::to_string(media.bottom) +
                    " media-left-margin=" + std::to_string(media.left) +
                    " media-right-margin=" + std::to_string(media.right) +
                    " media-top-margin=" + std::to_string(media.top);
  for (std::string_view member : {"media-source", "media-type"}) {
    if (const PrintOption* option = find(member); option && ippName(option->value)) {
      col += " " + std::string(member) + "=" + option->value;
    }
  }
  col += "}";
  out.push_back({"media-col", col});
  return out;
}

int sheetRotation(Orientation orientation) {
  switch (orientation) {
    case Orientation::portrait:
      return 0;
    case Orientation::landscape:
      return 90;
    case Orientation::reversePortrait:
      return 180;
    case Orientation::reverseLandscape:
      return 270;
  }
  return 0;
}

void requireExactSizeChoices(const QueuePpd& ppd) {
  for (const ExactSizeOption& option : exactSizeOptions()) {
    if (!option.ppdChoice || !ppd.hasOption(option.name)) continue;
    if (!ppd.hasChoice(option.name, option.value)) {
      const std::string label = ppd.optionText(option.name).value_or(std::string(option.name));
      throw PrintFailure("The printer's driver cannot print at exact size: its setting \"" + label +
                         "\" has no \"" + std::string(option.value) +
                         "\" choice. Install the printer with another driver.");
    }
  }
}

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
  if (isApplicationColor(color) && !color.driverColorManagementDisabled) {
    throw PrintFailure(
        "Disable printer-driver color correction in this preset's Printer settings, then "
        "acknowledge it before application-managed printing.");
  }
  requireInstalledPrinter(request.printerName);

  PrintSettings settings = restorePrintInfo(snapshot);
  verifyPrinter(settings, request);

  const MeasuredPaper current = measurePaper(settings);
  current.geometry.validate();
  requireSamePaper(snapshot.paper, current.geometry);
  std::optional<QueuePpd> ppd = QueuePpd::forQueue(settings.printerName());
  if (ppd) requireExactSizeChoices(*ppd);

  configurePrintPagination(settings, static_cast<int64_t>(artwork.pages.size()));
  applyCopiesOverride(settings, request.copies);
  configureApplicationColor(settings, color);

  const std::string title = jobTitle(request);
  const auto offset = request.offsetMM();
  // The saved paper, not the measurement: the preview was drawn on it.
  ArtworkPrintView view(artwork, snapshot.paper, request.scalePercent, title, offset.x, offset.y);

  // The options exactly as the job will carry them: the colour entries must have survived into
  // what reaches CUPS, not just into the settings they were made from.
  const std::string media = settings.media().value_or(current.mediaName);
  const std::vector<PrintOption> sent = jobOptions(settings, media, ppd ? &*ppd : nullptr);
  verifyApplicationColor(sent, color);

  // The road to the printer, read now: a driverless printer behind a cupsd that drops
  // print-scaling gets the job straight from here (see chooseRoute).
  const RouteFacts facts = readRouteFacts(settings.printerName());
  const PrintRoute route = chooseRoute(facts);
  if (route == PrintRoute::printerDevice) requireUnscaledPrinting(facts, settings.printerName());
  // No filter turns a landscape sheet onto the printer's portrait media on the device route:
  // the sheets arrive turned as the filters would have turned them.
  const int rotation = route == PrintRoute::printerDevice
                           ? sheetRotation(settings.orientation().value_or(Orientation::portrait))
                           : 0;

  if (takesRasterRoute(ppd ? &*ppd : nullptr, color, route)) {
    // The converted 16 bits reach a Gutenprint driver only in a raster made here: the PDF route
    // hands it 8 bits (see raster_job.h). Everything is settled and every sheet drawn before
    // any job exists, as for a PDF.
    const RasterJob raster = planRasterJob(*ppd, settings, sent, current.geometry);
    std::vector<FileSpan> spans;
    const PrivateTempFile rasterFile(
        [&](const ByteSink& sink) {
          spans = writeRasterDocument(raster, artwork, snapshot.paper, request.scalePercent,
                                      offset.x, offset.y, sink);
        },
        "printing");
    sendJob(route, facts, settings.printerName(), sent, media, title, rasterFile.fd(),
            kCupsRasterFormat, spans);
    return submitted(snapshot, document);
  }

  // Converted pixels are the printer's own values: the job marks them as matched and they go
  // untagged, so no colour management applies the printer profile a second time.
  // Into an unnamed file rather than memory: the document of a large photograph is as large as
  // its converted samples.
  const PrivateTempFile pdf(
      [&](const ByteSink& sink) {
        try {
          view.printDocument(isApplicationColor(color), rotation, sink);
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

  sendJob(route, facts, settings.printerName(), sent, media, title, pdf.fd());
  return submitted(snapshot, document);
}

}  // namespace vardelle::printing
