#pragma once

#include <cups/cups.h>

#include <string>
#include <vector>

namespace vardelle::printing {

/// A sheet as a media database holds it, in hundredths of a millimetre, portrait.
struct MediaEntry {
  int width = 0, length = 0;
  int left = 0, bottom = 0, right = 0, top = 0;
  bool operator==(const MediaEntry&) const = default;
};

/// The sheets a printer itself offers: its media-col-database and media-col-ready.
struct PrinterMedia {
  bool listed = false;  ///< whether the printer answered with a media-col-database or -ready
  std::vector<MediaEntry> sheets;  ///< the entries that describe a real sheet
  /// Entries with a size of zero or less, or margins that leave no printable area on the sheet.
  size_t impossible = 0;
};

/// The media-col-database and media-col-ready of a Get-Printer-Attributes response (entries
/// without a media-size are skipped, as a printer's custom-size ranges are).
PrinterMedia printerMedia(ipp_t* response);

/// The printer's own entry for the sheet a queue names as `queueEntry`: one of the same size
/// whose margins are the queue's, each of the six values within kPaperDriftTolerancePt
/// (same_sheet.h). Throws PrintFailure before any job, naming the queue `queue`: the printer lists
/// no media-col-database; the entry is missing and the database holds impossible values (said as
/// such); the entry is missing or its margins differ (the paper-drift sentence: the printer
/// changed since the preset was saved).
MediaEntry printerEntryFor(const PrinterMedia& media, const MediaEntry& queueEntry,
                           const std::string& queue);

}  // namespace vardelle::printing
