#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/sheet_document.h"
#include "base/print_failure.h"
#include "printing/settings/print_settings.h"

namespace vardelle::printing {

/// The pages a view prints: `length` pages starting at `first` (counted from 1).
struct PageRange {
  int64_t first = 1;
  int64_t length = 0;
};

/// The print view of one artwork: a stack of paper-sized bands, page 1 the lowest, each drawn
/// exactly where the preview draws it. It answers the page questions itself, so the print job
/// carries one sheet of exactly the paper size per artwork page with its origin at the sheet's
/// origin, and nothing downstream paginates, scales or centres. A page that fails to draw leaves
/// its sheet blank; the failure is kept in renderingError() and the other pages still draw.
class ArtworkPrintView {
 public:
  /// The five fixed fields; `paper` is the saved paper (points), `offsetXmm`/`offsetYmm` the
  /// request's offset in millimetres.
  ArtworkPrintView(artwork::Artwork artwork, artwork::PaperGeometry paper, double scalePercent,
                   std::string title, double offsetXmm, double offsetYmm);

  /// The view's frame: origin (0, 0), paper width × (paper height × page count).
  artwork::Rect frame() const;
  /// The job title.
  const std::string& printJobTitle() const { return title_; }
  /// Always known: from page 1, as many pages as the artwork has.
  PageRange knowsPageRange() const;
  /// The band of page `n` (from 1): x 0, y paper height × (n − 1), at paper size.
  artwork::Rect rectForPage(int64_t n) const;
  /// Where a page's band goes on its sheet: always the sheet's origin, never centred.
  artwork::Size locationOfPrintRect() const { return {0, 0}; }

  /// Draws every artwork page whose band meets `dirty` (view coordinates) onto the current sheet
  /// of `sheet`, moved from its band to the sheet's origin, with drawArtworkPage. A failure is
  /// stored (replacing an earlier one) and the next page is drawn; nothing is thrown.
  void drawRect(const artwork::Rect& dirty, artwork::SheetDocument& sheet);

  /// The whole print document as PDF bytes: for each page of knowsPageRange() a new sheet of the
  /// paper's size with that page's band drawn on it. `deviceValueImages`: images are written
  /// untagged (see SheetDocument::setDeviceValueImages). Throws PrintFailure only when the
  /// document cannot be written; page failures go to renderingError().
  /// `sheetRotation`: each sheet carries /Rotate by that much (see
  /// SheetDocument::setSheetRotation).
  std::string printDocument(bool deviceValueImages, int sheetRotation = 0);
  /// The same, handed to `sink` as it is written (see SheetDocument::write), with a sheet for
  /// each of `sides` in order: the page of that index (from 0), or a blank sheet for a negative
  /// one (the copies and blank backs a document holds); every page once without any.
  void printDocument(bool deviceValueImages, int sheetRotation,
                     const std::function<void(std::string_view)>& sink,
                     const std::vector<int>& sides = {});

  /// The last drawing failure; absent when every page drew. Never cleared.
  const std::optional<PrintFailure>& renderingError() const { return renderingError_; }

 private:
  void drawPage(size_t index, artwork::SheetDocument& sheet);

  artwork::Artwork artwork_;
  artwork::PaperGeometry paper_;
  double scalePercent_;
  double offsetXmm_;
  double offsetYmm_;
  std::string title_;
  std::optional<PrintFailure> renderingError_;
};

}  // namespace vardelle::printing
