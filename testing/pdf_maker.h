#pragma once

#include <optional>
#include <string>
#include <vector>

class QPDF;

namespace vardelle::testing {

/// A box as PDF writes it: lower-left and upper-right corners.
struct PdfBox {
  double llx = 0, lly = 0, urx = 0, ury = 0;
};

/// One page of a fixture PDF.
struct FixturePage {
  PdfBox mediaBox{0, 0, 612, 792};
  std::optional<PdfBox> cropBox;
  std::optional<PdfBox> trimBox;
  int rotate = 0;
  std::optional<double> userUnit;
  std::string content;  ///< the page's content stream, uncompressed
  /// Further content streams; with any, /Contents becomes an array.
  std::vector<std::string> moreContents;
  /// Repeat an earlier page's content stream and resources (0-based index of that page).
  std::optional<size_t> sameContentAs;
  bool withFont = false;  ///< give the page /F1 (one Helvetica font object shared by all pages)
  bool withAnnotation = false;  ///< a square annotation with its own red appearance
};

/// Writes a PDF with the given pages through qpdf; deterministic bytes.
std::string makeFixturePdf(const std::vector<FixturePage>& pages);

/// `pdf` written as every fixture is: into memory, with a deterministic identifier.
std::string writtenFixture(QPDF& pdf);

/// Content filling the rectangle (x, y, w, h) with an RGB colour, e.g. fillRect(0, 0, 10, 10, 1,
/// 0, 0) for red.
std::string fillRect(double x, double y, double w, double h, double r, double g, double b);

}  // namespace vardelle::testing
