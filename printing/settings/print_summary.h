#pragma once

#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "artwork/paper_geometry.h"
#include "base/records.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// Said when the store refuses one of the exact-size layout entries.
inline constexpr const char* kLayoutNotConfigured =
    "The printer settings could not be configured for exact-size output.";

/// The summary from an already known paper size in points (orientation applied) and CUPS' name
/// for the paper: paperName is `localizedPaperName`, else the settings' "media", else "Custom
/// paper"; sizes are points × 25.4 ÷ 72, not rounded; orientation "landscape" for either
/// landscape, else "portrait"; copies from "copies", 1 when unset or unreadable; colorMode from
/// knownColorMode. Never throws.
PrintSummary printSummary(const PrintSettings& settings, artwork::Size paperSize,
                          const std::optional<std::string>& localizedPaperName);

/// "monochrome" or "color" when the colour keys ("ColorModel", "print-color-mode", any letter
/// case) of `dictionary` (a JSON object) agree; none when there is no colour key, when they
/// disagree, or when any of them holds a value outside its vocabulary (colorModelMode,
/// printColorModeMode). Values that are not strings are skipped.
std::optional<std::string> knownColorMode(const nlohmann::json& dictionary);

/// Forces one artwork page onto one sheet at 100 % with nothing added, as the CUPS options that
/// mean it: the exactSizeOptions kept in the settings (number-up=1, page-border=none,
/// job-sheets=none,none, print-scaling=none, fit-to-page=false, page-set=all, outputorder=normal,
/// mirror=false), written in that order;
/// any page range is removed. Entries already written stay when a later one is refused; throws
/// PrintFailure(kLayoutNotConfigured) at the first refusal.
void configureDeterministicLayout(PrintSettings& settings);

}  // namespace vardelle::printing
