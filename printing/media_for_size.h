#pragma once

#include <string>

namespace vardelle::printing {

/// The PWG name of the destination's media that has the chosen sheet size (portrait,
/// millimetres), found with cupsGetDestMediaBySize. A size that differs from the media's by more
/// than half a millimetre on either side is not that media. Throws PrintFailure when the print
/// system is unreachable, the printer is gone, or it offers no media of that size.
std::string mediaForSize(const std::string& printerName, double widthMm, double heightMm);

}  // namespace vardelle::printing
