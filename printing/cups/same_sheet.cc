#include "printing/cups/same_sheet.h"

#include <cmath>

#include "base/print_failure.h"

namespace vardelle::printing {

void requireSamePaper(const artwork::PaperGeometry& saved, const artwork::PaperGeometry& current) {
  const double pairs[][2] = {
      {saved.width, current.width},
      {saved.height, current.height},
      {saved.imageableX, current.imageableX},
      {saved.imageableY, current.imageableY},
      {saved.imageableWidth, current.imageableWidth},
      {saved.imageableHeight, current.imageableHeight},
  };
  for (const auto& pair : pairs) {
    // Written so that a NaN on either side fails the comparison and is refused.
    if (!(std::fabs(pair[0] - pair[1]) <= kPaperDriftTolerancePt)) {
      throw PrintFailure(kPaperChanged);
    }
  }
}

}  // namespace vardelle::printing
