#pragma once

#include <optional>
#include <string>

#include "artwork/paper_geometry.h"
#include "base/records.h"
#include "printing/cups/printer_media.h"
#include "printing/cups/queue_ppd.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The paper of a settings object as the destination's media database describes it.
struct MeasuredPaper {
  artwork::PaperGeometry geometry;  ///< sheet and printable area in points, orientation applied
  std::string mediaName;  ///< the PWG name measured (the settings' or the queue's default)
  std::optional<std::string> localizedName;  ///< CUPS' name for people, when it has one
  /// Whether the sheet is printed borderless by a driver option rather than by a page size of
  /// its own (Gutenprint's StpFullBleed): the dialog names such a paper by its size alone.
  bool driverBorderless = false;
  /// The entry measured, portrait, in hundredths of a millimetre, margins and all: what a job
  /// sent straight to a printer must name (printerEntryFor) so that a borderless sheet goes out
  /// without margins and a bordered one with them.
  MediaEntry sheet;
};

/// The name people know `paper` by, from `shown`, the name the dialog showed for it (its PPD
/// text or the queue's name for the size): " borderless" added where a driver option makes the
/// sheet borderless.
std::string paperNameFor(const MeasuredPaper& paper, const std::string& shown);

/// Measures the paper of `settings`, turned for the orientation, in points converted from
/// hundredths of a millimetre (× 72 first, then ÷ 2540):
/// - with a "PageSize" (a driver queue's own entry): that entry of the queue's PPD, its
///   PaperDimension and ImageableArea as CUPS converts them to hundredths; on a Gutenprint queue
///   (*StpDriverName) the printable area is libgutenprint's for the saved paper, input slot,
///   media type and borderless setting (gutenprintPrintableArea). An entry the PPD no longer
///   has is refused. The name is the PPD's own text for it, " borderless" added for a
///   Gutenprint borderless sheet; mediaName the PWG name of its size.
/// - otherwise: the "media" option (or the queue's default media) looked up in the
///   destination's media database (cupsCopyDestInfo, cupsGetDestMediaByName). A size further
///   from the named one than kNamedSizeToleranceHundredths (a PPD's rounding) is refused.
/// The same settings on an unchanged queue measure identically to the last bit. Throws
/// PrintFailure: print system unreachable, printer not installed, paper not offered,
/// orientation not understood, a Gutenprint model libgutenprint does not know.
MeasuredPaper measurePaper(const PrintSettings& settings);

/// measurePaper, for settings saved with the paper `saved`: throws as it does, and PrintFailure
/// when the sheet it measures is not a usable one (PaperGeometry::validate) or not `saved`, size
/// and printable area within kPaperDriftTolerancePt (requireSamePaper).
MeasuredPaper measureSavedPaper(const PrintSettings& settings, const artwork::PaperGeometry& saved);

/// measurePaper(settings).geometry.
artwork::PaperGeometry paperGeometry(const PrintSettings& settings);

/// The summary shown next to a preset, with the paper measured through CUPS (measurePaper).
/// Never throws: when the paper cannot be measured the size comes from the PWG name alone
/// (0 × 0 without one), and the name falls back as in the summary from a known paper size.
PrintSummary printSummary(const PrintSettings& settings);

/// How the filters lay a sheet of `orientation` on the queue's portrait media, as orientedGeometry
/// turns: portrait (any portrait sheet, as it is), or, for either landscape, reverseLandscape on
/// a PPD that says *LandscapeOrientation: Plus90 (the sheet's left edge on the media's bottom
/// edge) and landscape otherwise (its left edge on the media's top edge).
Orientation sheetTurn(const QueuePpd& ppd, Orientation orientation);

/// A sheet size in hundredths of a millimetre, portrait.
struct MediaSize {
  int widthHundredths = 0;
  int lengthHundredths = 0;
};

/// The size a media name stands for by itself (PWG self-describing names such as
/// "iso_a4_210x297mm", or the legacy and PPD names CUPS also accepts, such as "A4"); none for
/// a name that says no size. Needs no print system.
std::optional<MediaSize> namedMediaSize(const std::string& media);

/// Turns a portrait sheet and its margins (all in hundredths of a millimetre) for `orientation`
/// and converts them to points. Landscape is the turn the CUPS filters give a landscape page
/// printed on portrait media (jobs never send orientation-requested): the content turns 90°
/// clockwise, so the portrait top margin becomes the landscape left one and the portrait left
/// margin the bottom one. Reverse landscape is the opposite turn, reverse portrait a half turn.
artwork::PaperGeometry orientedGeometry(int widthHundredths, int lengthHundredths,
                                        int leftHundredths, int bottomHundredths,
                                        int rightHundredths, int topHundredths,
                                        Orientation orientation);

}  // namespace vardelle::printing
