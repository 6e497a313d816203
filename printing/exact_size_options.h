#pragma once

#include <string_view>
#include <vector>

#include "printing/print_settings.h"

namespace vardelle::printing {

/// One option every job carries so that nothing between the helper and the paper scales, fits,
/// moves or multiplies the sheets: queue defaults and user lpoptions would otherwise fill in
/// whatever the job leaves out.
struct ExactSizeOption {
  std::string_view name;
  std::string_view value;
  /// Only for queues whose PPD offers `name`: the PPD must then offer `value` too, or the job
  /// would print with the driver's own (scaling) default.
  bool ppdChoice = false;
  std::string_view why;
};

/// Every exact-size option, in the order a job sends them (before the copies and the paper).
const std::vector<ExactSizeOption>& exactSizeOptions();

/// Options a job never carries, whatever the saved settings say: each would scale, fit, move or
/// paginate the already composed sheets, or turn sheets that are drawn turned already.
const std::vector<std::string_view>& placementOptionsNeverSent();

}  // namespace vardelle::printing
