#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "artwork/artwork.h"
#include "color/soft_proof.h"

namespace vardelle::artwork {

/// The largest converted page, in pixels; also the largest side.
inline constexpr double kManagedPagePixelLimit = 24'000'000;
/// The largest total of converted pixels in one artwork.
inline constexpr double kManagedDocumentPixelLimit = 40'000'000;
/// The raster resolution of PDF pages at the final print scale.
inline constexpr double kManagedPdfDpi = 300.0;

/// The refusals of the pixel limits.
inline constexpr const char* kManagedPageLimit =
    "Application-managed color exceeds the 24-million-pixel page limit. Use a smaller artwork or "
    "scale; conversion resolution will not be reduced silently.";
inline constexpr const char* kManagedDocumentLimit =
    "Application-managed color exceeds the 40-million-pixel document limit. Split this document "
    "into smaller files.";

/// The pixel size of a page converted with application-managed colour.
struct RasterSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

/// A PDF page: each side ceil(((points × scalePercent) ÷ 100) × 300 ÷ 72), in that order; a PNG
/// page: its own pixel size at any scale. Throws PrintFailure(kManagedPageLimit) unless both sides
/// are finite, positive and at most 24,000,000 and their product is at most 24,000,000.
RasterSize managedRasterSize(const ArtworkPage& page, double scalePercent);

/// What a soft proof shows besides the artwork's pages.
struct SoftProofSheet {
  /// Unprinted paper in the proof, 8-bit sRGB.
  std::array<std::uint8_t, 3> paperRgb{255, 255, 255};
  /// The pixels proofed and those the printer cannot reproduce; complete once every page has
  /// been drawn (a PNG page is proofed as it is drawn).
  std::shared_ptr<const color::GamutTally> tally;
};

/// The artwork as its print will look: each page converted to the printer profile exactly as
/// applyingColorManagement converts it for printing (same sizes, limits and 16-bit path), then
/// shown in 16-bit sRGB (absolute colorimetric with `proof.paperWhite`, relative otherwise), with
/// the gamut warning when asked; the pages are untagged sRGB rasters. Fills `sheet`. The warnings
/// are those of applyingColorManagement, the last one saying that the thumbnail is a soft proof.
/// Throws the PrintFailure of validation, of applyingColorManagement, and
/// kSoftProofNeedsApplicationColor with printer-managed colour.
Artwork softProofed(const Artwork& artwork, const ColorManagement& settings, const SoftProof& proof,
                    double scalePercent, SoftProofSheet& sheet);

}  // namespace vardelle::artwork
