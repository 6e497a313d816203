#pragma once

#include <functional>
#include <string>
#include <vector>

class QPDFWriter;

namespace vardelle::testing {

/// One page of a hand-written PDF. Each entry is raw PDF text; an empty one is left out.
struct PdfPageOptions {
  std::string mediaBox = "[0 0 612 792]";
  std::string cropBox;
  std::string rotate;
  std::string userUnit;
  /// Further raw dictionary entries, e.g. "/TrimBox [0 0 10 10]".
  std::string extra;
  /// Overrides the whole page object (e.g. "42" for a page that is not a dictionary).
  std::string rawObject;
};

/// A PDF written as text with a correct cross-reference table: a catalog, one /Pages node holding
/// `inheritedEntries` (e.g. "/Rotate 90 /MediaBox [0 0 100 100]"), and the pages in order, each
/// with a small content stream (a filled rectangle in the page's corner).
std::string makePdf(const std::vector<PdfPageOptions>& pages,
                    const std::string& inheritedEntries = "");

/// A one-page-per-size PDF: `count` pages of `width` × `height` points.
std::string makePdfOfPages(size_t count, double width = 612, double height = 792);

/// `pdf` written again by qpdf, with a fixed ID and `configure` applied to its writer.
std::string rewritePdf(const std::string& pdf, const std::function<void(QPDFWriter&)>& configure);

/// `pdf` re-written by qpdf with 256-bit AES encryption. With an empty user password it opens
/// without one; `allowPrinting` false forbids all printing.
std::string encryptPdf(const std::string& pdf, const std::string& userPassword, bool allowPrinting);

}  // namespace vardelle::testing
