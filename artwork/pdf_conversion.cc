// Converting a PDF page to a printer profile: Ghostscript renders it in the working space and
// the rows are converted as they come. Only loadPdf refers to this file, so code that reads no
// PDF links none of the PDF drawing.
#include "artwork/pdf_conversion.h"

#include <optional>

#include "artwork/band_converter.h"
#include "artwork/drawing_bounds.h"
#include "artwork/page_drawing.h"
#include "artwork/rasterizer.h"
#include "artwork/sheet_document.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

/// Renders the page's visible box upright onto exactly width × height pixels of 16-bit RGB in
/// the working space, and converts it.
std::shared_ptr<Pixels> convertPdfPage(const ArtworkPage& page, const PdfPage& pdf, RasterSize size,
                                       const color::PageTransform& transform,
                                       const std::string& workingProfilePath) {
  // The one-page sheet is the page's own size in points, the visible box mapped onto all of it
  // the way the preview maps it onto its placed rectangle.
  const Size sheetSize = page.naturalSize();
  requireBoundedDecoding(pdf);
  SheetDocument sheet;
  sheet.beginSheet(sheetSize);
  const std::string form = sheet.formXObjectFor(pdf);
  sheet.appendContent(
      "q\n" + pdfMatrixOperator(pdfTransform(pdf, {0, 0, sheetSize.width, sheetSize.height})) +
      "\n" + form + " Do\nQ\n");
  // The converted page is allocated once Ghostscript has finished and its rows are read back, so
  // that its bands and the converted page never take memory at the same time.
  std::shared_ptr<Pixels> pixels;
  std::optional<BandConverter> bands;
  try {
    rasterizeFirstPageByRows(sheet.write(),
                             {int(size.width), int(size.height), sheetSize.width, sheetSize.height,
                              16, workingProfilePath},
                             [&](int y, const std::uint16_t* rgb) {
                               if (!bands) {
                                 pixels = convertedBuffer(size);
                                 bands.emplace(transform, *pixels);
                               }
                               std::uint16_t* row = bands->row(std::uint32_t(y));
                               for (std::uint32_t x = 0; x < size.width; ++x) {
                                 row[4 * x] = rgb[3 * x];
                                 row[4 * x + 1] = rgb[3 * x + 1];
                                 row[4 * x + 2] = rgb[3 * x + 2];
                               }
                             });
  } catch (const PlatformError& error) {
    debugNote(error.what());
    throw PrintFailure(kRasterFailed);
  }
  if (!bands) throw PrintFailure(kRasterFailed);
  bands->flush();
  return pixels;
}

}  // namespace vardelle::artwork
