#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/sheet_document.h"

namespace vardelle::artwork {

/// The preview PDF: one sheet per artwork page, in order, each with the media box
/// (0, 0, paper width, paper height) and the page drawn by drawArtworkPage; Info /Creator
/// "KORVANEL Print" and /Title "Print preview"; vector content, deterministic file identifier.
/// Throws the PrintFailure of inspection, "The artwork exceeds the paper. Choose a smaller scale or
/// larger paper before previewing." when the artwork does not fit, or that of drawing or writing.
std::string makePreview(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                        double offsetXmm, double offsetYmm);
/// The same document composed and not yet written, failing as makePreview does before any byte
/// exists: a large preview can then be written straight to its file (SheetDocument::write).
std::unique_ptr<SheetDocument> composePreview(const Artwork& artwork, const PaperGeometry& paper,
                                              double scalePercent, double offsetXmm,
                                              double offsetYmm);

/// The pixel size of the thumbnail: scale s = 1200 / max(paper width, paper height) pixels per
/// point, each side ceil(s × side) limited to 1…1200.
struct ThumbnailSize {
  double pixelsPerPoint = 0;
  int width = 0;
  int height = 0;
};
ThumbnailSize thumbnailSize(const PaperGeometry& paper);

/// The thumbnail PNG: the first artwork page drawn by drawArtworkPage on an opaque white sheet of
/// thumbnailSize(paper) pixels at s pixels per point, later pages not drawn; 8-bit RGBA, sRGB,
/// pHYs of s × 72 DPI. Fails like makePreview when any page does not fit, and with the fixed
/// "Could not … the artwork preview image." sentences when rendering or encoding fails.
/// A raster (PNG or converted) first page is area-averaged straight onto the bitmap; a PDF page
/// is drawn on the one-sheet PDF of makeSheetThumbnail and rendered by poppler
/// (renderThumbnailPage). `sheetRgb` colours the sheet under a raster page instead of white
/// (a soft proof's paper).
std::string makeThumbnail(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
                          double offsetXmm, double offsetYmm,
                          const std::array<std::uint8_t, 3>& sheetRgb = {255, 255, 255});

/// Starts, on a thread of its own, loading what makeThumbnail will need for the artwork at
/// `artworkPath` (the PDF renderer for a PDF whose pages are not converted to a printer profile
/// first), while the caller reads the settings and the artwork. Does nothing otherwise; never
/// throws.
void prepareThumbnail(const std::string& artworkPath, bool applicationManagedColor);

/// The thumbnail of makeThumbnail drawn for any page kind through a one-sheet PDF rendered by
/// Ghostscript, the renderer of print and managed colour: the picture both thumbnail paths must
/// agree with.
std::string makeSheetThumbnail(const Artwork& artwork, const PaperGeometry& paper,
                               double scalePercent, double offsetXmm, double offsetYmm);

}  // namespace vardelle::artwork
