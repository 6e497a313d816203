#pragma once

#include <optional>
#include <string>

namespace vardelle::printing {

/// What decides a Gutenprint driver's printable area for one sheet: the PPD's page-size name
/// and size, and the driver options that move the margins.
struct GutenprintPaper {
  std::string driver;    ///< the PPD's *StpDriverName, e.g. "escp2-p800"
  std::string pageSize;  ///< the PPD's page-size name, e.g. "A4" or "w288h432J"
  double widthPt = 0;    ///< the sheet as the PPD declares it, used for sizes the driver
  double lengthPt = 0;   ///< does not list (custom sizes)
  std::optional<std::string> inputSlot;  ///< InputSlot choice; none for the driver's default
  std::optional<std::string> mediaType;  ///< MediaType choice; none for the driver's default
  bool borderless = false;               ///< StpFullBleed
};

/// The part of the sheet the driver really prints when it crops instead of shrinking
/// (StpiShrinkOutput=Crop), in points from the sheet's lower-left corner, portrait.
struct GutenprintArea {
  double left = 0;
  double bottom = 0;
  double right = 0;
  double top = 0;
};

/// The printable area libgutenprint gives `paper`, computed as rastertogutenprint does for a
/// cropped page: the driver's imageable area for these options, within the sheet. Initialises
/// libgutenprint once. Throws PrintFailure when the installed libgutenprint does not know the
/// driver or gives no area for the sheet.
GutenprintArea gutenprintPrintableArea(const GutenprintPaper& paper);

}  // namespace vardelle::printing
