#include "printing/cups/media_for_size.h"

#include <cmath>
#include <cstdlib>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/same_sheet.h"

namespace vardelle::printing {

std::string mediaForSize(const std::string& printerName, double widthMm, double heightMm) {
  if (!std::isfinite(widthMm) || !std::isfinite(heightMm) || widthMm <= 0 || heightMm <= 0 ||
      widthMm > 100000 || heightMm > 100000) {
    throw PrintFailure(kPaperSizeNotOffered);
  }
  HttpConnection http = connectToPrintSystem();
  Destination dest = namedDestination(http.get(), printerName);
  DestinationInfo info(cupsCopyDestInfo(http.get(), dest.get()));
  if (!info) {
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure(kPaperSizeNotOffered);
  }
  const int width = static_cast<int>(std::lround(widthMm * 100));
  const int length = static_cast<int>(std::lround(heightMm * 100));
  cups_size_t size{};
  if (!cupsGetDestMediaBySize(http.get(), dest.get(), info.get(), width, length,
                              CUPS_MEDIA_FLAGS_DEFAULT, &size) ||
      size.media[0] == '\0' || std::abs(size.width - width) > kDialogToMediaToleranceHundredths ||
      std::abs(size.length - length) > kDialogToMediaToleranceHundredths) {
    throw PrintFailure(kPaperSizeNotOffered);
  }
  return size.media;
}

}  // namespace vardelle::printing
