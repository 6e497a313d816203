#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "artwork/artwork.h"

namespace vardelle::testing {

/// 16-bit RGB samples (three per pixel, host order, rows from the top), `sample(x, y)` each.
std::shared_ptr<artwork::Pixels> rgb16Pixels(
    std::uint32_t width, std::uint32_t height,
    const std::function<std::array<std::uint16_t, 3>(std::uint32_t x, std::uint32_t y)>& sample);

/// A page as application-managed colour leaves it: the 16-bit RGB `pixels` at `dpi` both ways,
/// held, or with `streamed` made row by row each time they are read (as a photograph converted
/// while drawn), of which only the first `rowsMade` rows come, as from a file damaged since
/// loading.
artwork::ArtworkPage convertedPage(std::shared_ptr<artwork::Pixels> pixels, double dpi,
                                   bool streamed = false, std::uint32_t rowsMade = ~0u);

}  // namespace vardelle::testing
