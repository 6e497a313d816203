#pragma once

#include <cstdint>

#include "artwork/artwork.h"

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

}  // namespace vardelle::artwork
