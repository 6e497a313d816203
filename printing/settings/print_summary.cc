#include "printing/settings/print_summary.h"

#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/print_failure.h"
#include "base/text.h"
#include "printing/settings/color_vocabulary.h"
#include "printing/settings/exact_size_options.h"

namespace vardelle::printing {

std::optional<std::string> knownColorMode(const nlohmann::json& dictionary) {
  if (!dictionary.is_object()) return std::nullopt;
  std::set<std::string_view> modes;
  for (const auto& [key, value] : dictionary.items()) {
    const bool colorModel = equalsIgnoringAsciiCase(key, PrintSettings::kColorModel);
    if ((!colorModel && !equalsIgnoringAsciiCase(key, PrintSettings::kPrintColorMode)) ||
        !value.is_string()) {
      continue;
    }
    const std::string& word = value.get_ref<const std::string&>();
    std::optional<std::string_view> mode =
        colorModel ? colorModelMode(word) : printColorModeMode(word);
    if (!mode) return std::nullopt;
    modes.insert(*mode);
  }
  if (modes.size() != 1) return std::nullopt;
  return std::string(*modes.begin());
}

PrintSummary printSummary(const PrintSettings& settings, artwork::Size paperSize,
                          const std::optional<std::string>& localizedPaperName) {
  PrintSummary summary;
  if (localizedPaperName && !localizedPaperName->empty()) {
    summary.paperName = *localizedPaperName;
  } else if (auto media = settings.media(); media && !media->empty()) {
    summary.paperName = *media;
  } else {
    summary.paperName = "Custom paper";
  }
  summary.paperWidthMm = artwork::millimeters(paperSize.width);
  summary.paperHeightMm = artwork::millimeters(paperSize.height);
  auto orientation = settings.orientation();
  summary.orientation =
      orientation == Orientation::landscape || orientation == Orientation::reverseLandscape
          ? "landscape"
          : "portrait";
  summary.copies = settings.copies().value_or(1);
  summary.printerName = settings.printerName();
  summary.colorMode = knownColorMode(settings.optionDictionary());
  return summary;
}

void configureDeterministicLayout(PrintSettings& settings) {
  for (const ExactSizeOption& option : exactSizeOptions()) {
    if (option.kept != ExactSizeOption::Kept::inSettings) continue;
    if (!settings.setOption(option.name, option.value)) throw PrintFailure(kLayoutNotConfigured);
  }
  // All pages: a range left from elsewhere would drop artwork pages.
  settings.removeOption("page-ranges");
}

}  // namespace vardelle::printing
