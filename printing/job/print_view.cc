#include "printing/job/print_view.h"

#include <algorithm>

#include "artwork/page_drawing.h"

namespace vardelle::printing {

ArtworkPrintView::ArtworkPrintView(artwork::Artwork artwork, artwork::PaperGeometry paper,
                                   double scalePercent, std::string title, double offsetXmm,
                                   double offsetYmm)
    : artwork_(std::move(artwork)),
      paper_(paper),
      scalePercent_(scalePercent),
      offsetXmm_(offsetXmm),
      offsetYmm_(offsetYmm),
      title_(std::move(title)) {}

artwork::Rect ArtworkPrintView::frame() const {
  return {0, 0, paper_.width, paper_.height * static_cast<double>(artwork_.pages.size())};
}

PageRange ArtworkPrintView::knowsPageRange() const {
  return {1, static_cast<int64_t>(artwork_.pages.size())};
}

artwork::Rect ArtworkPrintView::rectForPage(int64_t n) const {
  return {0, paper_.height * static_cast<double>(n - 1), paper_.width, paper_.height};
}

void ArtworkPrintView::drawRect(const artwork::Rect& dirty, artwork::SheetDocument& sheet) {
  // Adjacent bands share an edge, and paper height × n rounds differently from the sum of the
  // bands below it: only an overlap of real height counts as meeting a band.
  const double edge = paper_.height * 1e-9;
  for (size_t i = 0; i < artwork_.pages.size(); ++i) {
    const artwork::Rect met = rectForPage(static_cast<int64_t>(i) + 1).intersection(dirty);
    if (met.isNull() || !(met.height > edge) || !(met.width > 0)) continue;
    drawPage(i, sheet);
  }
}

void ArtworkPrintView::drawPage(size_t index, artwork::SheetDocument& sheet) {
  // The sheet's user space is the band moved to the origin: the page draws in paper coordinates
  // exactly as on a preview sheet. drawArtworkPage brackets its operators with q … Q and appends
  // nothing when it fails, so a failed page leaves its sheet blank.
  try {
    artwork::drawArtworkPage(artwork_.pages[index], sheet, paper_, scalePercent_, offsetXmm_,
                             offsetYmm_);
  } catch (const PrintFailure& failure) {
    renderingError_ = failure;
  }
}

std::string ArtworkPrintView::printDocument(bool deviceValueImages, int sheetRotation) {
  std::string out;
  printDocument(deviceValueImages, sheetRotation,
                [&out](std::string_view bytes) { out.append(bytes); });
  return out;
}

void ArtworkPrintView::printDocument(bool deviceValueImages, int sheetRotation,
                                     const std::function<void(std::string_view)>& sink,
                                     const std::vector<int>& sides) {
  artwork::SheetDocument sheets;
  sheets.setDeviceValueImages(deviceValueImages);
  sheets.setSheetRotation(sheetRotation);
  sheets.setInfo("KORVANEL Print", title_);
  const PageRange range = knowsPageRange();
  std::vector<int> every;
  for (int64_t n = range.first; n < range.first + range.length; ++n) {
    every.push_back(static_cast<int>(n - 1));
  }
  for (int side : sides.empty() ? every : sides) {
    sheets.beginSheet(paper_.size());
    if (side >= 0 && size_t(side) < artwork_.pages.size()) drawPage(size_t(side), sheets);
  }
  sheets.write(sink);
}

}  // namespace vardelle::printing
