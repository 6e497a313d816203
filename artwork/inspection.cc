#include "artwork/artwork.h"
#include "artwork/placement.h"

namespace vardelle::artwork {

DocumentInfo Artwork::inspect(double scalePercent, const std::optional<PaperGeometry>& paper,
                              double offsetXmm, double offsetYmm) const {
  DocumentInfo info;
  info.warnings = warnings;
  bool allFit = true;
  bool anyClipping = false;
  int number = 0;
  for (const ArtworkPage& page : pages) {
    ++number;
    PageInfo measured;
    measured.widthMm = millimeters(page.naturalSize().width);
    measured.heightMm = millimeters(page.naturalSize().height);
    measured.scaledWidthMm = measured.widthMm * scalePercent / 100;
    measured.scaledHeightMm = measured.heightMm * scalePercent / 100;
    info.pages.push_back(measured);
    if (!paper) continue;
    const PagePlacement placed =
        placement(page.naturalSize(), scalePercent, *paper, offsetXmm, offsetYmm);
    allFit = allFit && placed.fitsPaper;
    anyClipping = anyClipping || placed.requiresClipping;
    if (!placed.fitsPaper) {
      info.warnings.push_back("Page " + std::to_string(number) +
                              " exceeds the physical paper at this scale. Reduce the scale or "
                              "choose larger paper.");
    } else if (placed.requiresClipping) {
      info.warnings.push_back("Page " + std::to_string(number) +
                              " extends into the printer's unprintable margins. Preview shows "
                              "the clipped result; printing requires acknowledgment.");
    }
  }
  if (paper) {
    info.fits = allFit;
    info.requiresClipping = anyClipping;
  } else {
    info.warnings.push_back("Save Printer Settings to check paper size and printable margins.");
    info.requiresClipping = false;
  }
  info.format = format;
  info.pageCount = int64_t(pages.size());
  info.dpiX = dpiX;
  info.dpiY = dpiY;
  info.sourceColorProfile = sourceColorProfile;
  info.colorManagement = colorManagement;
  return info;
}

}  // namespace vardelle::artwork
