#include "printing/print_summary.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <utility>

#include "base/print_failure.h"
#include "printing/cups_paper.h"

namespace vardelle::printing {
namespace {

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return result;
}

// White space and line breaks at either end, including the Unicode ones a settings file could
// carry (no-break space, next line, line and paragraph separators).
std::string_view trimmed(std::string_view text) {
  static constexpr std::array<std::string_view, 6> kUnicodeSpaces = {"\u00A0", "\u0085", "\u2028",
                                                                     "\u2029", "\u3000", "\u202F"};
  auto strip = [&](bool front) {
    for (bool changed = true; changed && !text.empty();) {
      changed = false;
      char c = front ? text.front() : text.back();
      if (c == ' ' || (c >= '\t' && c <= '\r')) {
        text = front ? text.substr(1) : text.substr(0, text.size() - 1);
        changed = true;
        continue;
      }
      for (auto space : kUnicodeSpaces) {
        bool match = front ? text.starts_with(space) : text.ends_with(space);
        if (match) {
          text = front ? text.substr(space.size()) : text.substr(0, text.size() - space.size());
          changed = true;
          break;
        }
      }
    }
  };
  strip(true);
  strip(false);
  return text;
}

bool among(std::string_view value, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), value) != words.end();
}

// The size a media name stands for, when the paper could not be measured.
std::optional<artwork::Size> sizeFromName(const PrintSettings& settings) {
  auto media = settings.media();
  auto orientation = settings.orientation();
  if (!media) return std::nullopt;
  auto size = namedMediaSize(*media);
  if (!size) return std::nullopt;
  // orientedGeometry converts exactly as a measurement would; margins play no part here.
  return orientedGeometry(size->widthHundredths, size->lengthHundredths, 0, 0, 0, 0,
                          orientation.value_or(Orientation::portrait))
      .size();
}

}  // namespace

std::optional<std::string> knownColorMode(const nlohmann::json& dictionary) {
  if (!dictionary.is_object()) return std::nullopt;
  std::set<std::string> modes;
  for (const auto& [key, value] : dictionary.items()) {
    std::string name = lowered(key);
    if ((name != "colormodel" && name != "print-color-mode") || !value.is_string()) continue;
    std::string word = lowered(trimmed(value.get_ref<const std::string&>()));
    if (name == "colormodel") {
      if (among(word, {"gray", "grey", "grayscale", "greyscale", "monochrome", "black"})) {
        modes.insert("monochrome");
      } else if (among(word, {"rgb", "cmyk", "cmy", "color", "colour"})) {
        modes.insert("color");
      } else {
        return std::nullopt;
      }
    } else {
      if (among(word, {"monochrome", "bi-level", "process-monochrome", "process-bi-level"})) {
        modes.insert("monochrome");
      } else if (word == "color") {
        modes.insert("color");
      } else {
        return std::nullopt;
      }
    }
  }
  if (modes.size() != 1) return std::nullopt;
  return *modes.begin();
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

PrintSummary printSummary(const PrintSettings& settings) {
  try {
    MeasuredPaper paper = measurePaper(settings);
    PrintSummary summary = printSummary(settings, paper.geometry.size(), paper.localizedName);
    if (!paper.localizedName && !settings.media()) summary.paperName = paper.mediaName;
    return summary;
  } catch (...) {
    // The summary is shown, never relied on: an unmeasurable paper still gets one.
  }
  return printSummary(settings, sizeFromName(settings).value_or(artwork::Size{}), std::nullopt);
}

void configureDeterministicLayout(PrintSettings& settings) {
  static constexpr std::pair<std::string_view, std::string_view> kLayout[] = {
      {"number-up", "1"},        {"page-border", "none"},  {"job-sheets", "none,none"},
      {"print-scaling", "none"}, {"fit-to-page", "false"}, {"page-set", "all"},
      {"outputorder", "normal"}, {"mirror", "false"},
  };
  for (const auto& [name, value] : kLayout) {
    if (!settings.setOption(name, value)) throw PrintFailure(kLayoutNotConfigured);
  }
  // All pages: a range left from elsewhere would drop artwork pages.
  settings.removeOption("page-ranges");
}

}  // namespace vardelle::printing
