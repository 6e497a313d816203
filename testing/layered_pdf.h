#pragma once

#include <functional>
#include <string>
#include <vector>

#include "testing/pdf_maker.h"
#include "testing/raster_probe.h"
#include "testing/ruler.h"

namespace vardelle::testing {

/// One square of a layered page: black when it prints, left white when optional content hides
/// it.
struct LayeredSquare {
  std::string what;  ///< how optional content decides it
  PdfBox box;        ///< where, in the page's points
  bool prints = false;
};

/// A one-page PDF whose squares are each decided by one way optional content can decide: the
/// default configuration's /ON and /OFF, the Print event's /PrintState (on screen, not printed,
/// and the reverse), membership dictionaries with each /P policy, /VE expressions that disagree
/// with their /P, /OC on a form and on images, spans nested in spans and in forms two deep, a
/// tiling pattern, hidden text and visible text placed after it, a colour and a clip set inside a
/// hidden span, a missing and an unlisted group.
struct LayeredPdf {
  std::string pdf;
  double widthPt = 0;
  double heightPt = 0;
  std::vector<LayeredSquare> squares;
};

/// The layered page at `widthPt` × `heightPt` (at least 450 × 600), its squares in rows from
/// half its height up. `printedContent` is drawn first, inside a layer that prints (a ruler, for
/// example).
LayeredPdf makeLayeredPdf(double widthPt, double heightPt, const std::string& printedContent = "");

/// `pdf` written again without its catalog's /OCProperties: what a reader that ignores layers
/// reads.
std::string withoutOptionalContentProperties(const std::string& pdf);

/// The squares of `page` drawn wrong on a picture of it: each that prints but shows no ink, or
/// that does not print but shows some. `darknessAt(x, y)` answers how dark (0 white … 255 black)
/// the picture is at the page's point (x, y), y upward. Empty when every square is right.
std::vector<std::string> wrongSquares(const LayeredPdf& page,
                                      const std::function<int(double x, double y)>& darknessAt);

/// The same on a picture of a sheet `sheetHeightPt` high, rows from its top, at `pixelsPerPoint`,
/// on which the page was placed at `placed` (points, y up).
std::vector<std::string> wrongSquares(const LayeredPdf& page, const DecodedImage& picture,
                                      double pixelsPerPoint, const PdfBox& placed,
                                      double sheetHeightPt);
/// The same on a rendering or raster at its own resolution.
std::vector<std::string> wrongSquares(const LayeredPdf& page, const DarknessImage& picture,
                                      const PdfBox& placed, double sheetHeightPt);

}  // namespace vardelle::testing
