#include "printing/cups_paper.h"

#include "base/print_failure.h"
#include "printing/cups_connection.h"
#include "printing/printers_internal.h"

namespace vardelle::printing {
namespace {

// Hundredths of a millimetre to points, multiplied first so that whole millimetres and the
// usual PPD values convert the same way every time.
double points(int hundredths) { return static_cast<double>(hundredths) * 72.0 / 2540.0; }

std::string paperNotOffered(const std::string& media) {
  return "The printer does not offer the paper size \"" + media +
         "\". Choose another paper in Printer Settings and save them again.";
}

}  // namespace

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
  // named one would move every placement, so it is refused rather than used.
  if (auto named = namedMediaSize(media)) {
    if (named->widthHundredths != size.width || named->lengthHundredths != size.length) {
      throw PrintFailure(paperNotOffered(media));
    }
  }

  MeasuredPaper measured;
  measured.geometry = orientedGeometry(size.width, size.length, size.left, size.bottom, size.right,
                                       size.top, *orientation);
  measured.mediaName = size.media[0] ? size.media : media;
  if (const char* localized = cupsLocalizeDestMedia(http.get(), dest.get(), info.get(),
                                                    CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    if (*localized) measured.localizedName = localized;
  }
  return measured;
}

artwork::PaperGeometry paperGeometry(const PrintSettings& settings) {
  return measurePaper(settings).geometry;
}

}  // namespace vardelle::printing
