#include "printing/cups/media_for_size.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printers_internal.h"
#include "printing/cups/queue_ppd.h"
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

std::optional<std::string> queueEntryForPaper(const std::string& printerName,
                                              const std::string& ppdName, double widthMm,
                                              double heightMm, const std::string& shownAs) {
  std::optional<QueuePpd> ppd = QueuePpd::forQueue(printerName);
  if (!ppd) return std::nullopt;
  // GTK names the PPD's custom size "Custom" itself; its dimensions are in the choice.
  if (!ppdName.empty() && ppdName != "Custom" && ppd->pageSize(ppdName)) return ppdName;
  const double widthPt = widthMm * 72.0 / 25.4;
  const double heightPt = heightMm * 72.0 / 25.4;
  std::optional<std::string> bySize;
  for (const PpdPageSize& size : ppd->pageSizes()) {
    if (std::abs(size.widthPt - widthPt) > kDialogToPpdTolerancePt ||
        std::abs(size.lengthPt - heightPt) > kDialogToPpdTolerancePt) {
      continue;
    }
    if (!bySize || size.text == shownAs) bySize = size.name;
  }
  if (bySize) return bySize;
  char custom[64];
  std::snprintf(custom, sizeof custom, "Custom.%.2fx%.2f", widthPt, heightPt);
  if (!ppd->pageSize(custom)) throw PrintFailure(kPaperSizeNotOffered);
  return std::string(custom);
}

}  // namespace vardelle::printing
