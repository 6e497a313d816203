#pragma once

#include <vector>

#include "base/records.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The entries that mark settings as colour-matched by this application, and the profile used.
inline constexpr std::string_view kColorMatchingModeKey = "AP_ColorMatchingMode";
inline constexpr std::string_view kApplicationColorMatching = "AP_ApplicationColorMatching";
inline constexpr std::string_view kCustomProfilePathKey = "PMCustomProfilePath";

/// The refusal of application-managed colour for settings that print in black and white: the
/// converted colours are RGB.
inline constexpr const char* kBlackAndWhiteWithRgbProfile =
    "This preset is set to black and white. Choose Color in Printer settings before using an RGB "
    "printer profile.";

/// For application-managed colour: throws PrintFailure unless the driver's own colour correction
/// was acknowledged as disabled (`driverColorManagementDisabled`). Any other mode passes.
void requireDriverColorCorrectionDisabled(const ColorManagement& color);

/// For application-managed colour ("application" mode): refuses unless the driver's own colour
/// correction was acknowledged as disabled, validates the colour settings, stores the two
/// entries (matching mode, then profile path exactly as the request gives it) and reads them
/// back with verifyApplicationColor. Any other mode leaves the settings untouched. Throws
/// PrintFailure; when the store refuses the first entry the second is not written.
void configureApplicationColor(PrintSettings& settings, const ColorManagement& color);

/// For application-managed colour: throws PrintFailure unless both entries read back exactly
/// (no path normalisation). Any other mode passes whatever the settings hold.
void verifyApplicationColor(const PrintSettings& settings, const ColorManagement& color);

/// For application-managed colour: throws PrintFailure (the same "did not retain" sentence)
/// unless the job options about to be sent carry the "cm-calibration" marker. Any other mode
/// passes.
void verifyApplicationColor(const std::vector<PrintOption>& jobOptions,
                            const ColorManagement& color);

/// The CUPS job options that carry the entries to the print system: "cm-calibration" when the
/// settings say the application matched the colour (the CUPS filters then leave the colours
/// alone; they test only that the option is present), nothing otherwise. The profile path stays
/// in the settings: the job's colours already are in that profile.
std::vector<PrintOption> applicationColorJobOptions(const PrintSettings& settings);

}  // namespace vardelle::printing
