#pragma once

#include <optional>
#include <string>

#include "artwork/paper_geometry.h"
#include "printing/print_settings.h"

namespace vardelle::printing {

/// The paper of a settings object as the destination's media database describes it.
struct MeasuredPaper {
  artwork::PaperGeometry geometry;  ///< sheet and printable area in points, orientation applied
  std::string mediaName;  ///< the PWG name measured (the settings' or the queue's default)
  std::optional<std::string> localizedName;  ///< CUPS' name for people, when it has one
};

/// Measures the paper of `settings`: the "media" option (or, without one, the queue's default
/// media) looked up in the destination's media database (cupsCopyDestInfo,
/// cupsGetDestMediaByName), hundredths of a millimetre converted to points (× 72 first, then
/// ÷ 2540), then turned for the orientation. A near size that CUPS would substitute for the
/// named one is refused, not used. The same settings on an unchanged queue measure identically
/// to the last bit. Throws PrintFailure: print system unreachable, printer not installed, paper
/// not offered, orientation not understood.
MeasuredPaper measurePaper(const PrintSettings& settings);

/// measurePaper(settings).geometry.
artwork::PaperGeometry paperGeometry(const PrintSettings& settings);

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
