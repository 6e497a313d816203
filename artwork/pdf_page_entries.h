#pragma once

// What sizes a PDF page, as read from the file: both PDF readers (qpdf, and the plain reader that
// inspects without it) fill these entries, and one rule turns them into the page's size.
#include <cstddef>
#include <optional>
#include <vector>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "base/artwork_format.h"

namespace vardelle::artwork {

/// The /Rotate value found for a page, before it is judged.
struct PdfRotateEntry {
  enum class Kind { none, integer, real };  ///< `none` also for a value that is not a number
  Kind kind = Kind::none;
  long long integer = 0;
  double real = 0;
};

/// The entries of one page. Boxes and /Rotate are the nearest non-null ones up the page's own
/// /Parent chain; /UserUnit is the page dictionary's own.
struct PdfPageEntries {
  std::optional<Rect> mediaBox;  ///< none when missing or not four finite numbers
  std::optional<Rect> cropBox;   ///< likewise
  PdfRotateEntry rotate;
  std::optional<double> userUnit;  ///< set when the entry is a number
};

/// A PDF rectangle [llx lly urx ury] as a standardised rectangle; none unless all four are finite.
std::optional<Rect> pdfRectangle(const double (&corners)[4]);

/// The page numbered `index` (0-based) measured from its entries: the visible box (crop box ∩
/// media box), its rotation and units, and its natural size upright. `content` gets every field
/// but the document. Throws PrintFailure("PDF page N has invalid page bounds." and the others of
/// rotation, units and dimensions).
ArtworkPage measuredPdfPage(const PdfPageEntries& entries, size_t index);

/// PDF artwork of measured `pages` with what every PDF reports: its format, printer-managed colour
/// and the warning that says so. Throws PrintFailure("This PDF has no pages.") for none.
Artwork pdfArtwork(std::vector<ArtworkPage> pages);

}  // namespace vardelle::artwork
