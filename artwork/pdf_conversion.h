#pragma once

#include <memory>
#include <string>

#include "artwork/artwork.h"
#include "artwork/color_managed.h"
#include "color/managed_conversion.h"

namespace vardelle::artwork {

/// Renders the page's visible box upright onto exactly `size` pixels of 16-bit RGB in the working
/// space (the profile at `workingProfilePath`), and converts it with `transform`. Throws
/// PrintFailure.
std::shared_ptr<Pixels> convertPdfPage(const ArtworkPage& page, const PdfPage& pdf, RasterSize size,
                                       const color::PageTransform& transform,
                                       const std::string& workingProfilePath);

}  // namespace vardelle::artwork
