#include "artwork/pdf_document.h"

#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

const char* kUnreadablePdf = "This PDF could not be opened. It may be incomplete or damaged.";

std::shared_ptr<QPDFLogger> silentLogger() {
  // qpdf's own logger sends information to standard output, which belongs to the result line.
  auto logger = QPDFLogger::create();
  logger->setInfo(logger->discard());
  logger->setWarn(logger->discard());
  logger->setError(logger->discard());
  return logger;
}

}  // namespace

std::shared_ptr<PdfDocument> PdfDocument::open(const std::string& path) {
  auto document = std::shared_ptr<PdfDocument>(new PdfDocument);
  document->qpdf_ = std::make_shared<QPDF>();
  QPDF& pdf = *document->qpdf_;
  pdf.setLogger(silentLogger());
  pdf.setSuppressWarnings(true);
  try {
    pdf.processFile(path.c_str(), "");
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password) {
      throw PrintFailure("Unlock this password-protected PDF before printing.");
    }
    throw PrintFailure(kUnreadablePdf);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    throw PrintFailure(kUnreadablePdf);
  }
  // Any printing at all is permission enough: the job is printed as the document's own pages.
  if (!pdf.allowPrintLowRes()) throw PrintFailure("This PDF does not allow printing.");
  try {
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
      document->pages_.push_back(page.getObjectHandle());
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // A page tree that cannot be walked leaves no page count to report.
    throw PrintFailure(kUnreadablePdf);
  }
  return document;
}

}  // namespace vardelle::artwork
