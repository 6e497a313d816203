#pragma once

// The one colour vocabulary: what the colour choices of the drivers Debian ships mean. The
// summary's colorMode, the black-and-white check before an RGB printer profile is used, and the
// print-color-mode a job gives a driverless printer all read it, so a grey mode is grey to each.

#include <optional>
#include <string_view>

namespace vardelle::printing {

/// The two colour modes, spelled as the summary and IPP's print-color-mode both spell them.
inline constexpr std::string_view kMonochrome = "monochrome";
inline constexpr std::string_view kColor = "color";

/// What a PPD's ColorModel choice means: kMonochrome, kColor, or none for a word outside the
/// vocabulary. Compared trimmed of white space and line breaks and in ASCII lower case. Knows
/// the words of Gutenprint (Gray, Black, RGB, CMY, CMYK, KCMY), HPLIP (Gray, KGray, CMYGray,
/// Mono, RGB), cups-filters' and CUPS' generic PPDs (Gray, Grayscale, Black, RGB, CMYK, color)
/// and the PPDs CUPS makes for IPP Everywhere printers (FastGray, Gray, Gray16, DeviceGray, RGB,
/// AdobeRGB, DeviceRGB, CMYK).
std::optional<std::string_view> colorModelMode(std::string_view choice);

/// What an IPP print-color-mode keyword means: kMonochrome for monochrome, auto-monochrome,
/// bi-level, process-monochrome and process-bi-level, kColor for color, none otherwise (auto,
/// highlight, anything unknown). Compared as colorModelMode compares.
std::optional<std::string_view> printColorModeMode(std::string_view keyword);

}  // namespace vardelle::printing
