#pragma once

#include <string_view>
#include <vector>

#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// One option every job carries so that nothing between the helper and the paper scales, fits,
/// moves or multiplies the sheets: queue defaults and user lpoptions would otherwise fill in
/// whatever the job leaves out.
struct ExactSizeOption {
  /// Where the option is kept besides every job.
  enum class Kept {
    /// Also written into the saved settings (configureDeterministicLayout), so that a preset
    /// says how it prints.
    inSettings,
    /// Only in jobs.
    inJob,
    /// Only in jobs to queues whose PPD offers `name`: the PPD must then offer `value` too, or
    /// the job would print with the driver's own (scaling) default.
    ppdChoice,
  };
  std::string_view name;
  std::string_view value;
  Kept kept = Kept::inJob;
  std::string_view why;

  bool ppdChoice() const { return kept == Kept::ppdChoice; }
};

/// Every exact-size option, in the order a job sends them (after the paper, before the copies),
/// those kept in the settings first, in the order they are stored.
const std::vector<ExactSizeOption>& exactSizeOptions();

/// Options a job never carries, whatever the saved settings say: each would scale, fit, move or
/// paginate the already composed sheets, or turn sheets that are drawn turned already.
const std::vector<std::string_view>& placementOptionsNeverSent();

}  // namespace vardelle::printing
