#include "printing/submission.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "printing/cups_connection.h"
#include "printing/cups_paper.h"
#include "printing/exact_size_options.h"
#include "printing/print_color_entries.h"
#include "printing/print_view.h"
#include "printing/printers.h"
#include "printing/printers_internal.h"
#include "printing/queue_ppd.h"
#include "printing/restore.h"

namespace vardelle::printing {
namespace {

constexpr const char* kNotConfirmed = "macOS did not confirm a successful print operation.";

/// A cups_option_t array as cupsAddOption grows it.
class CupsOptions {
 public:
  explicit CupsOptions(const std::vector<PrintOption>& options) {
    for (const PrintOption& option : options) {
      count_ = cupsAddOption(option.name.c_str(), option.value.c_str(), count_, &options_);
    }
  }
  ~CupsOptions() { cupsFreeOptions(count_, options_); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;

  int count() const { return count_; }
  cups_option_t* get() const { return options_; }

 private:
  int count_ = 0;
  cups_option_t* options_ = nullptr;
};

bool ippSucceeded(ipp_status_t status) { return status <= IPP_STATUS_OK_EVENTS_COMPLETE; }

[[noreturn]] void failLate(const std::string& reason) {
  throw PrintFailure(reason + kCheckPrintQueue);
}

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

// Sends the composed document as one job. Everything before cupsCreateDestJob leaves the queue
// untouched; from there on a failure may leave a job behind, so it is said with the queue tail.
void sendJob(const std::string& destination, const std::vector<PrintOption>& options,
             const std::string& title, const std::string& pdf) {
  HttpConnection http = connectToPrintSystem();
  // Named members rather than a structured binding: the cancel lambda below captures them, which
  // clang 14 refuses for bindings.
  auto opened = openDestination(http.get(), destination);
  Destination& dest = opened.first;
  DestinationInfo& info = opened.second;
  CupsOptions cupsOptions(options);

  int jobId = 0;
  ipp_status_t created = cupsCreateDestJob(http.get(), dest.get(), info.get(), &jobId,
                                           title.c_str(), cupsOptions.count(), cupsOptions.get());
  if (!ippSucceeded(created) || jobId <= 0) {
    logCups("cupsCreateDestJob");
    failLate(kNotConfirmed);
  }
  if (created != IPP_STATUS_OK) logCups("cupsCreateDestJob accepted the job with a remark");

  // A job whose document did not arrive whole is cancelled rather than left to print a
  // truncated file; the user is still sent to the queue, since the cancel may not get through.
  auto abandon = [&](const char* what) {
    logCups(what);
    cupsCancelDestJob(http.get(), dest.get(), jobId);
    failLate(kNotConfirmed);
  };
  if (cupsStartDestDocument(http.get(), dest.get(), info.get(), jobId, title.c_str(),
                            CUPS_FORMAT_PDF, 0, nullptr, 1) != HTTP_STATUS_CONTINUE) {
    abandon("cupsStartDestDocument");
  }
  constexpr size_t kChunk = 64 * 1024;
  for (size_t at = 0; at < pdf.size(); at += kChunk) {
    const size_t length = std::min(kChunk, pdf.size() - at);
    if (cupsWriteRequestData(http.get(), pdf.data() + at, length) != HTTP_STATUS_CONTINUE) {
      abandon("cupsWriteRequestData");
    }
  }
  if (!ippSucceeded(cupsFinishDestDocument(http.get(), dest.get(), info.get()))) {
    logCups("cupsFinishDestDocument");
    failLate(kNotConfirmed);
  }
}

bool isApplicationColor(const ColorManagement& color) { return color.mode == "application"; }

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

  // Converted pixels are the printer's own values: the job marks them as matched and they go
  // untagged, so no colour management applies the printer profile a second time.
  std::string pdf;
  try {
    pdf = view.printDocument(isApplicationColor(color));
  } catch (const PrintFailure&) {
    // The sheet writer speaks of a preview; here it is the job's document that failed.
    throw PrintFailure("The print document could not be created. Nothing was submitted.");
  }
  if (view.renderingError()) {
    // The whole document is composed before any job exists: the page's own sentence is the
    // complete story, and nothing waits in the queue.
    throw PrintFailure(view.renderingError()->message());
  }

  sendJob(settings.printerName(), sent, title, pdf);

  HelperResult result;
  result.ok = true;
  result.summary = snapshot.summary;
  result.document = document;
  result.submitted = true;
  return result;
}

}  // namespace vardelle::printing
