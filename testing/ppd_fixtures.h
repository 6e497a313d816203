#pragma once

#include <string>

#include "printing/cups/queue_ppd.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {

/// A driver PPD cut down to what the paper and the exact-size options read: A4 with margins,
/// two same-size sheets (4x6 and KG), and Gutenprint's shrink option with `shrinkChoices` (PPD
/// lines); `landscape` is put in as it is (e.g. "*LandscapeOrientation: Plus90\n").
std::string driverPpd(const std::string& shrinkChoices, const std::string& landscape);

/// Both of the shrink option's choices, Shrink and Crop, as PPD lines.
extern const std::string kShrinkAndCrop;

/// The PPD that Gutenprint's CUPS driver program makes for the expert model of `driver` (e.g.
/// "escp2-p800"), as `lpadmin -m gutenprint.5.3://DRIVER/expert` installs it, written into `dir`
/// and opened; throws when there is none.
printing::QueuePpd gutenprintPpd(TempDir& dir, const std::string& driver);

/// The PPD `text` written into `dir` and opened; throws when it does not parse.
printing::QueuePpd openPpd(TempDir& dir, const std::string& text);

}  // namespace vardelle::testing
