#pragma once

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/pdf_transform.h"
#include "artwork/sheet_document.h"

namespace vardelle::artwork {

/// The boxes and rotation of a loaded PDF page.
PdfPageFrame pageFrame(const PdfPage& page);

/// pdfTransform for a loaded PDF page.
AffineTransform pdfTransform(const PdfPage& page, const Rect& target);

/// Draws `page` onto the current sheet of `sheet` (user space: paper points, origin lower left)
/// where placement() puts it: clipped to the printable area; a PDF page also clipped to its placed
/// rectangle and mapped with pdfTransform; a PNG page scaled to fill the placed rectangle with
/// interpolation. The page's content is drawn, not its annotations. The drawing is bracketed by
/// q … Q, so the sheet's graphics state is unchanged afterwards. Throws the PrintFailure of
/// placement(), or "The artwork exceeds the paper. Choose a smaller scale or larger paper." when
/// the page is larger than the sheet (then nothing is drawn).
void drawArtworkPage(const ArtworkPage& page, SheetDocument& sheet, const PaperGeometry& paper,
                     double scalePercent, double offsetXmm, double offsetYmm);

}  // namespace vardelle::artwork
