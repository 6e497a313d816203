#include "printing/cups/paper_measurement.h"

#include <cmath>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/gutenprint_area.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/same_sheet.h"
#include "printing/settings/print_summary.h"

namespace vardelle::printing {
namespace {

// Hundredths of a millimetre to points, multiplied first so that whole millimetres and the
// usual PPD values convert the same way every time.
double points(int hundredths) { return static_cast<double>(hundredths) * 72.0 / 2540.0; }

std::string paperNotOffered(const std::string& media) {
  return "The printer does not offer the paper size \"" + media +
         "\". Choose another paper in Printer Settings and save them again.";
}

// What CUPS' PPD cache reports for a PPD length (PWG_FROM_POINTS), so that a PPD entry measures
// as cupsd's own media database describes it.
int hundredthsFromPoints(double points) {
  return static_cast<int>((points * 2540.0 + 36.0) / 72.0);
}

// A margin given in points, in whole hundredths never wider than the printable area really is.
int marginHundredths(double points) {
  return static_cast<int>(std::ceil(std::max(0.0, points) * 2540.0 / 72.0 - 1e-6));
}

bool optionIs(const PrintSettings& settings, const QueuePpd& ppd, std::string_view keyword,
              std::string_view value) {
  std::optional<std::string> chosen = settings.option(keyword);
  if (!chosen) chosen = ppd.defaultChoice(keyword);
  return chosen && *chosen == value;
}

std::optional<std::string> chosenOrDefault(const PrintSettings& settings, const QueuePpd& ppd,
                                           std::string_view keyword) {
  if (auto chosen = settings.option(keyword)) return chosen;
  return ppd.defaultChoice(keyword);
}

// The paper named by the queue's own PPD entry: its PaperDimension and ImageableArea in
// hundredths of a millimetre as CUPS converts them, with the printable area a Gutenprint
// driver really prints in place of the PPD's maximum one.
MeasuredPaper measurePpdEntry(const PrintSettings& settings, const std::string& entry,
                              Orientation orientation) {
  std::optional<QueuePpd> ppd = QueuePpd::forQueue(settings.printerName());
  if (!ppd) throw PrintFailure(paperNotOffered(entry));
  std::optional<PpdPageSize> size = ppd->pageSize(entry);
  if (!size) throw PrintFailure(paperNotOffered(entry));

  const int width = hundredthsFromPoints(size->widthPt);
  const int length = hundredthsFromPoints(size->lengthPt);
  int left = hundredthsFromPoints(size->leftPt);
  int bottom = hundredthsFromPoints(size->bottomPt);
  int right = hundredthsFromPoints(size->widthPt - size->rightPt);
  int top = hundredthsFromPoints(size->lengthPt - size->topPt);
  if (width <= 0 || length <= 0) throw PrintFailure(paperNotOffered(entry));

  MeasuredPaper measured;
  measured.localizedName = size->text;
  if (std::optional<std::string> driver = ppd->attribute("StpDriverName")) {
    GutenprintPaper paper;
    paper.driver = *driver;
    paper.pageSize = entry;
    paper.widthPt = size->widthPt;
    paper.lengthPt = size->lengthPt;
    paper.inputSlot = chosenOrDefault(settings, *ppd, "InputSlot");
    paper.mediaType = chosenOrDefault(settings, *ppd, "MediaType");
    paper.borderless = optionIs(settings, *ppd, "StpFullBleed", "True");
    const GutenprintArea area = gutenprintPrintableArea(paper);
    left = marginHundredths(area.left);
    bottom = marginHundredths(area.bottom);
    right = marginHundredths(size->widthPt - area.right);
    top = marginHundredths(size->lengthPt - area.top);
    measured.driverBorderless = paper.borderless;
    measured.localizedName = paperNameFor(measured, size->text);
  }
  measured.sheet = {width, length, left, bottom, right, top};
  measured.geometry =
      orientedGeometry(width, length, left, bottom, right, top, sheetTurn(*ppd, orientation));
  if (const pwg_media_t* pwg = pwgMediaForSize(width, length)) {
    measured.mediaName = pwg->pwg;
  } else {
    char name[128];
    pwgFormatSizeName(name, sizeof name, "custom", nullptr, width, length, nullptr);
    measured.mediaName = name;
  }
  return measured;
}

// The size a media name stands for, when the paper could not be measured.
std::optional<artwork::Size> sizeFromName(const PrintSettings& settings) {
  auto media = settings.media();
  auto orientation = settings.orientation();
  if (!media) return std::nullopt;
  auto size = namedMediaSize(*media);
  if (!size) return std::nullopt;
  // orientedGeometry converts exactly as a measurement would; margins play no part here.
  return orientedGeometry(size->widthHundredths, size->lengthHundredths, 0, 0, 0, 0,
                          orientation.value_or(Orientation::portrait))
      .size();
}

}  // namespace

// Jobs carry no orientation: pdftopdf turns every landscape sheet onto portrait media by the
// PPD's *LandscapeOrientation, whichever landscape the user chose, and leaves every portrait
// sheet as it is. Plus90 puts the sheet's left edge on the media's bottom edge; Minus90 (also
// libcups' reading of a PPD that does not say) on its top.
Orientation sheetTurn(const QueuePpd& ppd, Orientation orientation) {
  switch (orientation) {
    case Orientation::landscape:
    case Orientation::reverseLandscape:
      return ppd.landscapeDegrees() > 0 ? Orientation::reverseLandscape : Orientation::landscape;
    case Orientation::portrait:
    case Orientation::reversePortrait:
      break;
  }
  return Orientation::portrait;
}

std::optional<MediaSize> namedMediaSize(const std::string& media) {
  // PWG self-describing names first, then the legacy and PPD names that CUPS' own media option
  // also accepts.
  const pwg_media_t* size = pwgMediaForPWG(media.c_str());
  if (!size) size = pwgMediaForLegacy(media.c_str());
  if (!size) size = pwgMediaForPPD(media.c_str());
  if (!size || size->width <= 0 || size->length <= 0) return std::nullopt;
  return MediaSize{size->width, size->length};
}

artwork::PaperGeometry orientedGeometry(int width, int length, int left, int bottom, int right,
                                        int top, Orientation orientation) {
  int sheetWidth = width, sheetHeight = length;
  int x = left, y = bottom;
  int areaWidth = width - left - right, areaHeight = length - bottom - top;
  switch (orientation) {
    case Orientation::portrait:
      break;
    case Orientation::landscape:  // the portrait top edge becomes the left one
      sheetWidth = length, sheetHeight = width;
      x = top, y = left;
      areaWidth = length - bottom - top, areaHeight = width - left - right;
      break;
    case Orientation::reverseLandscape:  // the portrait bottom edge becomes the left one
      sheetWidth = length, sheetHeight = width;
      x = bottom, y = right;
      areaWidth = length - bottom - top, areaHeight = width - left - right;
      break;
    case Orientation::reversePortrait:
      x = right, y = top;
      break;
  }
  artwork::PaperGeometry geometry;
  geometry.width = points(sheetWidth);
  geometry.height = points(sheetHeight);
  geometry.imageableX = points(x);
  geometry.imageableY = points(y);
  geometry.imageableWidth = points(areaWidth);
  geometry.imageableHeight = points(areaHeight);
  return geometry;
}

MeasuredPaper measurePaper(const PrintSettings& settings) {
  auto orientation = settings.orientation();
  if (!orientation) {
    throw PrintFailure(
        "The saved orientation is not one this helper understands. Save Printer Settings again.");
  }
  HttpConnection http = connectToPrintSystem();
  if (!findPrinter(http.get(), settings.printerName())) throw PrintFailure(kPrinterNotInstalled);
  if (auto entry = settings.pageSize()) return measurePpdEntry(settings, *entry, *orientation);

  Destination dest = namedDestination(http.get(), settings.printerName());
  DestinationInfo info(cupsCopyDestInfo(http.get(), dest.get()));
  if (!info) {
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure("The print system did not describe the printer's paper sizes (" +
                       std::string(cupsLastErrorString()) + ").");
  }

  std::string media;
  if (auto chosen = settings.media()) {
    media = *chosen;
  } else if (ipp_attribute_t* fallback =
                 cupsFindDestDefault(http.get(), dest.get(), info.get(), "media")) {
    // cupsGetDestMediaDefault would ignore the queue's own default; this does not.
    if (const char* name = ippGetString(fallback, 0, nullptr)) media = name;
  }
  if (media.empty()) {
    throw PrintFailure("The printer reported no paper size. Choose a paper in Printer Settings.");
  }

  cups_size_t size{};
  if (!cupsGetDestMediaByName(http.get(), dest.get(), info.get(), media.c_str(),
                              CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    // The media database is already here: a failure is about the name, never the connection
    // (libcups reports a name it cannot parse as an "internal error").
    throw PrintFailure(paperNotOffered(media));
  }
  // CUPS answers a name with the nearest size within a few millimetres; a sheet that is not the
  // named one would move every placement, so it is refused rather than used. A PPD's whole
  // points are the named sheet.
  if (auto named = namedMediaSize(media)) {
    if (std::abs(named->widthHundredths - size.width) > kNamedSizeToleranceHundredths ||
        std::abs(named->lengthHundredths - size.length) > kNamedSizeToleranceHundredths) {
      throw PrintFailure(paperNotOffered(media));
    }
  }

  MeasuredPaper measured;
  measured.sheet = {size.width, size.length, size.left, size.bottom, size.right, size.top};
  measured.geometry = orientedGeometry(size.width, size.length, size.left, size.bottom, size.right,
                                       size.top, *orientation);
  measured.mediaName = size.media[0] ? size.media : media;
  if (const char* localized = cupsLocalizeDestMedia(http.get(), dest.get(), info.get(),
                                                    CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    if (*localized) measured.localizedName = localized;
  }
  return measured;
}

std::string paperNameFor(const MeasuredPaper& paper, const std::string& shown) {
  return paper.driverBorderless ? shown + " borderless" : shown;
}

MeasuredPaper measureSavedPaper(const PrintSettings& settings,
                                const artwork::PaperGeometry& saved) {
  MeasuredPaper current = measurePaper(settings);
  current.geometry.validate();
  requireSamePaper(saved, current.geometry);
  return current;
}

artwork::PaperGeometry paperGeometry(const PrintSettings& settings) {
  return measurePaper(settings).geometry;
}

PrintSummary printSummary(const PrintSettings& settings) {
  try {
    MeasuredPaper paper = measurePaper(settings);
    PrintSummary summary = printSummary(settings, paper.geometry.size(), paper.localizedName);
    if (!paper.localizedName && !settings.media()) summary.paperName = paper.mediaName;
    return summary;
  } catch (...) {
    // The summary is shown, never relied on: an unmeasurable paper still gets one.
  }
  return printSummary(settings, sizeFromName(settings).value_or(artwork::Size{}), std::nullopt);
}

}  // namespace vardelle::printing
