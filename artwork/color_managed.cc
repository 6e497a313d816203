#include "artwork/artwork.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

Artwork Artwork::applyingColorManagement(const ColorManagement& settings, double /*scalePercent*/,
                                         bool /*convert*/) const {
  settings.validate();
  if (settings.mode != "application") return *this;
  throw PrintFailure("Application-managed color is not available in this version of vardelle.");
}

}  // namespace vardelle::artwork
