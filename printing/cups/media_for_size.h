#pragma once

#include <optional>
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

/// The queue's own PPD entry ("PageSize") for a paper chosen in the dialog: `ppdName`, the PPD
/// page-size name the dialog read, when the PPD has it; otherwise the queue's entry of the chosen
/// size (portrait, millimetres; within kDialogToPpdTolerancePt), the one the dialog showed as
/// `shownAs` when several share the size; for any other size the PPD's custom form in points
/// ("Custom.WxH"). None for a queue without a PPD. Throws PrintFailure(kPaperSizeNotOffered) for a
/// size the PPD has no entry and no custom form for, and the failures of QueuePpd::forQueue.
std::optional<std::string> queueEntryForPaper(const std::string& printerName,
                                              const std::string& ppdName, double widthMm,
                                              double heightMm, const std::string& shownAs);

}  // namespace vardelle::printing
