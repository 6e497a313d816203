#include "printing/job/job_options.h"

#include <algorithm>

#include "base/print_failure.h"
#include "base/text.h"
#include "printing/settings/color_vocabulary.h"
#include "printing/settings/exact_size_options.h"
#include "printing/settings/print_color_entries.h"

namespace vardelle::printing {

std::vector<PrintOption> jobOptions(const PrintSettings& settings, const std::string& media,
                                    const QueuePpd* ppd, const CopiesPlan& copies) {
  // The sheets are drawn already turned: an orientation would make the filters turn them again.
  // The colour-matching entries are this application's, not CUPS options.
  static constexpr std::string_view kNeverSent[] = {PrintSettings::kOrientation,
                                                    kColorMatchingModeKey, kCustomProfilePathKey,
                                                    "cm-calibration", "media"};
  // Said once, in every reader's words, by copiesAndSidesOptions from the job's copies plan.
  static constexpr std::string_view kCopiesAndSides[] = {
      "copies", "Collate", "multiple-document-handling", "sheet-collate", "sides", "Duplex"};
  auto listed = [&](std::string_view name, const auto& names) {
    return std::any_of(std::begin(names), std::end(names),
                       [&](const auto& entry) { return equalsIgnoringAsciiCase(entry, name); });
  };
  auto exactNamed = [&](std::string_view name) {
    return std::any_of(
        exactSizeOptions().begin(), exactSizeOptions().end(),
        [&](const ExactSizeOption& option) { return equalsIgnoringAsciiCase(option.name, name); });
  };

  std::vector<PrintOption> options;
  for (const PrintOption& option : settings.options()) {
    if (listed(option.name, kNeverSent) || listed(option.name, kCopiesAndSides) ||
        listed(option.name, placementOptionsNeverSent()) || exactNamed(option.name)) {
      continue;
    }
    // The PPD's name for the paper means something only to a queue with that PPD; to a printer
    // reached by IPP alone the media says it.
    if (!ppd && equalsIgnoringAsciiCase(option.name, PrintSettings::kPageSize)) continue;
    options.push_back(option);
  }
  options.push_back({"media", media});
  for (const ExactSizeOption& option : exactSizeOptions()) {
    // A driver's own option goes only to a queue whose PPD has it: elsewhere it means nothing,
    // and an IPP printer would report it as unsupported.
    if (option.ppdChoice() && (!ppd || !ppd->hasOption(option.name))) continue;
    options.push_back({std::string(option.name), std::string(option.value)});
  }
  for (PrintOption& option : copiesAndSidesOptions(copies, ppd)) {
    options.push_back(std::move(option));
  }
  for (PrintOption& option : applicationColorJobOptions(settings)) {
    options.push_back(std::move(option));
  }
  return options;
}

std::vector<PrintOption> deviceJobOptions(const std::vector<PrintOption>& options,
                                          const MediaEntry& media) {
  // No filter runs between this job and the printer: these are the CUPS filters' options, and
  // the sheet is named by media-col, never by a name the printer could map to a neighbour.
  static constexpr std::string_view kFilterOnly[] = {
      "media",    "fit-to-page", "fitplot",    "natural-scaling", "page-border",  "mirror",
      "page-set", "outputorder", "job-sheets", "cm-calibration",  "media-source", "media-type",
  };
  auto find = [&](std::string_view name) -> const PrintOption* {
    for (const PrintOption& option : options) {
      if (option.name == name) return &option;
    }
    return nullptr;
  };
  auto ippName = [](std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
  };

  std::vector<PrintOption> out;
  for (const PrintOption& option : options) {
    if (!ippName(option.name)) continue;
    if (std::find(std::begin(kFilterOnly), std::end(kFilterOnly), option.name) !=
        std::end(kFilterOnly)) {
      continue;
    }
    out.push_back(option);
  }
  // The PPD words of an IPP Everywhere queue for colour and quality, in the printer's own.
  if (const PrintOption* model = find(PrintSettings::kColorModel);
      model && !find(PrintSettings::kPrintColorMode)) {
    if (std::optional<std::string_view> mode = colorModelMode(model->value)) {
      out.push_back({std::string(PrintSettings::kPrintColorMode), std::string(*mode)});
    }
  }
  if (const PrintOption* quality = find("cupsPrintQuality"); quality && !find("print-quality")) {
    const std::string value = asciiLowercase(quality->value);
    if (value == "draft") out.push_back({"print-quality", "3"});
    if (value == "normal") out.push_back({"print-quality", "4"});
    if (value == "high") out.push_back({"print-quality", "5"});
  }

  std::string col = "{media-size={x-dimension=" + std::to_string(media.width) +
                    " y-dimension=" + std::to_string(media.length) + "}" +
                    " media-bottom-margin=" + std::to_string(media.bottom) +
                    " media-left-margin=" + std::to_string(media.left) +
                    " media-right-margin=" + std::to_string(media.right) +
                    " media-top-margin=" + std::to_string(media.top);
  for (std::string_view member : {"media-source", "media-type"}) {
    if (const PrintOption* option = find(member); option && ippName(option->value)) {
      col += " " + std::string(member) + "=" + option->value;
    }
  }
  col += "}";
  out.push_back({"media-col", col});
  return out;
}

}  // namespace vardelle::printing
