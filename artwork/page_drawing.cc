#include "artwork/page_drawing.h"
#include "artwork/placement.h"

#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

std::string rectangle(const Rect& r) {
  return pdfNumber(r.x) + " " + pdfNumber(r.y) + " " + pdfNumber(r.width) + " " +
         pdfNumber(r.height) + " re";
}

}  // namespace

PdfPageFrame pageFrame(const PdfPage& page) { return {page.cropBox, page.mediaBox, page.rotation}; }

AffineTransform pdfTransform(const PdfPage& page, const Rect& target) {
  return pdfTransform(pageFrame(page), target);
}

void drawArtworkPage(const ArtworkPage& page, SheetDocument& sheet, const PaperGeometry& paper,
                     double scalePercent, double offsetXmm, double offsetYmm) {
  const PagePlacement p = placement(page.naturalSize(), scalePercent, paper, offsetXmm, offsetYmm);
  if (!p.fitsPaper) {
    throw PrintFailure("The artwork exceeds the paper. Choose a smaller scale or larger paper.");
  }
  // Resolve the XObject first: a page that cannot be read leaves the sheet untouched.
  std::string operators = "q\n" + rectangle(paper.imageable()) + " W n\n";
  if (const PdfPage* pdf = page.pdf()) {
    const std::string form = sheet.formXObjectFor(*pdf);
    operators += rectangle(p.rect) + " W n\n" + pdfMatrixOperator(pdfTransform(*pdf, p.rect)) +
                 "\n" + form + " Do\n";
  } else if (const PngPage* png = page.png()) {
    const std::string image = sheet.imageXObjectFor(*png);
    // An image fills the unit square; scale it onto the placed rectangle.
    operators += pdfMatrixOperator({p.rect.width, 0, 0, p.rect.height, p.rect.x, p.rect.y}) + "\n" +
                 image + " Do\n";
  }
  operators += "Q\n";
  sheet.appendContent(operators);
}

}  // namespace vardelle::artwork
