#include "printing/settings/print_color_entries.h"

#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

constexpr const char* kDriverCorrectionNotDisabled =
    "Disable printer-driver color correction in this preset's Printer settings, then acknowledge "
    "it before application-managed printing.";
constexpr const char* kNotSet =
    "macOS could not set application-managed color for this print operation.";
constexpr const char* kNotRetained =
    "macOS did not retain the requested application-managed color settings. Nothing was "
    "submitted.";

}  // namespace

void requireDriverColorCorrectionDisabled(const ColorManagement& color) {
  if (color.applicationManaged() && !color.driverColorManagementDisabled) {
    throw PrintFailure(kDriverCorrectionNotDisabled);
  }
}

void configureApplicationColor(PrintSettings& settings, const ColorManagement& color) {
  if (!color.applicationManaged()) return;
  requireDriverColorCorrectionDisabled(color);
  color.validate();
  if (!settings.setOption(kColorMatchingModeKey, kApplicationColorMatching)) {
    throw PrintFailure(kNotSet);
  }
  if (!settings.setOption(kCustomProfilePathKey, color.profilePath.value_or(""))) {
    throw PrintFailure(kNotSet);
  }
  verifyApplicationColor(settings, color);
}

void verifyApplicationColor(const PrintSettings& settings, const ColorManagement& color) {
  if (!color.applicationManaged()) return;
  auto mode = settings.option(kColorMatchingModeKey);
  auto profile = settings.option(kCustomProfilePathKey);
  if (mode != kApplicationColorMatching || profile != color.profilePath.value_or("")) {
    throw PrintFailure(kNotRetained);
  }
}

void verifyApplicationColor(const std::vector<PrintOption>& jobOptions,
                            const ColorManagement& color) {
  if (!color.applicationManaged()) return;
  for (const PrintOption& option : jobOptions) {
    if (option.name == "cm-calibration") return;
  }
  throw PrintFailure(kNotRetained);
}

std::vector<PrintOption> applicationColorJobOptions(const PrintSettings& settings) {
  if (settings.option(kColorMatchingModeKey) != kApplicationColorMatching) return {};
  return {{"cm-calibration", "true"}};
}

}  // namespace vardelle::printing
