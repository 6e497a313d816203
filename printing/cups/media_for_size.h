#pragma once

#include <string>

namespace vardelle::printing {

/// Said when the paper chosen in the dialog is not one the queue offers.
inline constexpr const char* kPaperSizeNotOffered =
    "The paper size chosen in Printer Settings is not one the printer offers. Choose another "
    "paper size and save again.";

/// The PWG name of the destination's media that has the chosen sheet size (portrait,
/// millimetres), found with cupsGetDestMediaBySize. A size that differs from the media's by more
/// than kDialogToMediaToleranceHundredths on either side is not that media. Throws PrintFailure
/// when the print system is unreachable, the printer is gone, or it offers no media of that size.
std::string mediaForSize(const std::string& printerName, double widthMm, double heightMm);

}  // namespace vardelle::printing
