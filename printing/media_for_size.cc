#include "printing/media_for_size.h"

#include <cmath>
#include <cstdlib>

#include "base/print_failure.h"
#include "printing/cups_connection.h"
#include "printing/printers_internal.h"

namespace vardelle::printing {

namespace {

// GTK reports PPD sizes converted from points and CUPS keeps hundredths of a millimetre; the
// same sheet can differ by a few hundredths between the two, a different sheet by far more.
constexpr int kToleranceHundredths = 50;

}  // namespace

std::string mediaForSize(const std::string& printerName, double widthMm, double heightMm) {
  const std::string notOffered =
      "The paper size chosen in Printer Settings is not one the printer offers. Choose another "
      "paper size and save again.";
  if (!std::isfinite(widthMm) || !std::isfinite(heightMm) || widthMm <= 0 || heightMm <= 0 ||
      widthMm > 100000 || heightMm > 100000) {
    throw PrintFailure(notOffered);
  }
  HttpConnection http = connectToPrintSystem();
  Destination dest = namedDestination(http.get(), printerName);
  DestinationInfo info(cupsCopyDestInfo(http.get(), dest.get()));
  if (!info) {
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure(notOffered);
  }
  const int width = static_cast<int>(std::lround(widthMm * 100));
  const int length = static_cast<int>(std::lround(heightMm * 100));
  cups_size_t size{};
  if (!cupsGetDestMediaBySize(http.get(), dest.get(), info.get(), width, length,
                              CUPS_MEDIA_FLAGS_DEFAULT, &size) ||
      size.media[0] == '\0' || std::abs(size.width - width) > kToleranceHundredths ||
      std::abs(size.length - length) > kToleranceHundredths) {
    throw PrintFailure(notOffered);
  }
  return size.media;
}

}  // namespace vardelle::printing
