#pragma once

// The one header that brings qpdf into the artwork code. Code that only measures or reports
// artwork includes artwork/artwork.h, which names PdfDocument without qpdf.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <memory>
#include <string>
#include <vector>

namespace vardelle::artwork {

class PrintedContent;

/// Makes `pdf` silent: qpdf's own logger writes to standard output, which belongs to the result
/// line, and its warnings about damaged files are of no use to the user. Every QPDF object this
/// helper makes goes through here.
void silenceQpdf(QPDF& pdf);

/// The PDF at `path` opened by qpdf for a look at its catalog: its cross-references and trailer
/// are read, other objects only as they are asked for, its pages never. For a file that
/// checkPdfBeforeQpdf has read within its limits. Throws what qpdf throws.
std::unique_ptr<QPDF> openForCatalog(const std::string& path);

/// An open PDF document and its page objects, in page order. Shared by every page taken from it,
/// so the document stays open while any of them is used. Warnings are suppressed and qpdf's
/// logger writes nowhere, so a damaged file never reaches standard output.
class PdfDocument {
 public:
  /// Opens `path` with the empty password, once the file has passed checkPdfBeforeQpdf (which
  /// also measures what the pages reach, for copying them into a sheet: the run's memory limit is
  /// raised to what qpdf needs for that, plain_pdf::qpdfMemoryBytes). Throws PrintFailure
  /// with the messages of loading:
  /// "This PDF could not be opened. It may be incomplete or damaged.", "Unlock this
  /// password-protected PDF before printing.", "This PDF does not allow printing.".
  static std::shared_ptr<PdfDocument> open(const std::string& path);

  /// The qpdf document. Writers that copy pages from it must keep this PdfDocument alive until
  /// their output is written (qpdf copies stream data lazily).
  QPDF& qpdf() const { return *qpdf_; }
  std::shared_ptr<QPDF> sharedQpdf() const { return qpdf_; }

  /// Number of pages of the page tree.
  size_t pageCount() const { return pages_.size(); }
  /// The page dictionary of page `index` (0-based).
  QPDFObjectHandle pageObject(size_t index) const { return pages_.at(index); }

  /// What optional content prints on the pages (artwork/printed_content.h), made on first use;
  /// null when the document has no optional content properties.
  PrintedContent* printedContent();

  ~PdfDocument();

 private:
  std::string path_;
  std::shared_ptr<QPDF> qpdf_;
  std::vector<QPDFObjectHandle> pages_;
  // After the document it reads, so that it goes first.
  bool printedContentMade_ = false;
  std::unique_ptr<PrintedContent> printedContent_;
};

}  // namespace vardelle::artwork
