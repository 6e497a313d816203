#include "artwork/pdf_document.h"

#include <qpdf/InputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <stdexcept>

#include "artwork/pdf_page_entries.h"
#include "artwork/plain_pdf_limits.h"
#include "artwork/plain_pdf_reader.h"
#include "artwork/printed_content.h"
#include "base/block_file.h"
#include "base/diagnostics.h"
#include "base/memory_limit.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

// The user hears that the file is damaged; the developer hears where qpdf found it so.
[[noreturn]] void unreadable(const std::exception& e) {
  debugNote(std::string("qpdf: ") + e.what());
  throw PrintFailure(kUnreadablePdfSentence);
}

// qpdf's own file source seeks through stdio before every object it reads, which throws away the
// stdio buffer each time: measuring a 1,000-page document cost thousands of lseek and read calls.
// This source reads through a BlockFile, so the objects that qpdf visits close together cost one
// system call.
class BlockCachedFileSource : public InputSource {
 public:
  explicit BlockCachedFileSource(const std::string& path) : name_(path), file_(path) {}
  ~BlockCachedFileSource() override = default;
  BlockCachedFileSource(const BlockCachedFileSource&) = delete;
  BlockCachedFileSource& operator=(const BlockCachedFileSource&) = delete;

  qpdf_offset_t findAndSkipNextEOL() override {
    // The same contract as qpdf's FileInputSource: the offset of the next end-of-line, with the
    // position left after the run of CR and LF characters that starts there.
    char c;
    while (true) {
      const qpdf_offset_t here = offset_;
      if (read(&c, 1) == 0) return offset_;
      if (c == '\r' || c == '\n') {
        while (read(&c, 1) == 1) {
          if (c != '\r' && c != '\n') {
            unreadCh(c);
            break;
          }
        }
        return here;
      }
    }
  }
  std::string const& getName() const override { return name_; }
  qpdf_offset_t tell() override { return offset_; }
  void seek(qpdf_offset_t offset, int whence) override {
    qpdf_offset_t target = offset;
    if (whence == SEEK_CUR) target = offset_ + offset;
    if (whence == SEEK_END) target = file_.size() + offset;
    if (target < 0) throw std::runtime_error(name_ + ": seek before the start of the file");
    offset_ = target;
  }
  void rewind() override { offset_ = 0; }
  size_t read(char* buffer, size_t length) override {
    last_offset = offset_;
    const size_t done = file_.read(offset_, buffer, length);
    offset_ += qpdf_offset_t(done);
    return done;
  }
  void unreadCh(char) override {
    if (offset_ > 0) --offset_;
  }

 private:
  std::string name_;
  BlockFile file_;
  qpdf_offset_t offset_ = 0;
};

}  // namespace

void silenceQpdf(QPDF& pdf) {
  // One logger for every document: it only discards.
  static const std::shared_ptr<QPDFLogger> discarding = [] {
    auto logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    logger->setError(logger->discard());
    return logger;
  }();
  pdf.setLogger(discarding);
  pdf.setSuppressWarnings(true);
}

std::unique_ptr<QPDF> openForCatalog(const std::string& path) {
  auto pdf = std::make_unique<QPDF>();
  silenceQpdf(*pdf);
  pdf->processInputSource(std::make_shared<BlockCachedFileSource>(path), "");
  return pdf;
}

std::shared_ptr<PdfDocument> PdfDocument::open(const std::string& path) {
  // qpdf follows references recursively and builds every value it parses, with no limit on
  // either: a chain of object streams ends it with SIGSEGV and a small Flate bomb takes gigabytes.
  // The plain reader walks the same structure with both bounded, pages and all they reach, and
  // refuses such a file before qpdf sees it, whatever the mode; a plain file costs one more quick
  // read (a 1,000-page file is read in less time than qpdf takes to load), and a file it declines
  // goes to qpdf as before.
  if (const std::optional<PdfCheck> measured = checkPdfBeforeQpdf(path)) {
    // What the pages reach is known before qpdf builds it: the run gets the memory that takes,
    // which a small file never needs beyond what every run gets. A file the check cannot read
    // keeps that, and the process's own limit stands.
    allowMemory(plain_pdf::qpdfMemoryBytes(measured->valuesReached, measured->fileBytes));
  }
  auto document = std::shared_ptr<PdfDocument>(new PdfDocument);
  document->path_ = path;
  document->qpdf_ = std::make_shared<QPDF>();
  QPDF& pdf = *document->qpdf_;
  silenceQpdf(pdf);
  try {
    pdf.processInputSource(std::make_shared<BlockCachedFileSource>(path), "");
  } catch (const QPDFExc& e) {
    if (e.getErrorCode() == qpdf_e_password) {
      throw PrintFailure("Unlock this password-protected PDF before printing.");
    }
    unreadable(e);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    unreadable(e);
  }
  bool printable = false;
  try {
    // Any printing at all is permission enough: the job prints the document's own pages.
    printable = pdf.allowPrintLowRes();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    unreadable(e);
  }
  if (!printable) throw PrintFailure("This PDF does not allow printing.");
  try {
    document->pages_ = pdf.getAllPages();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // A page tree that cannot be walked leaves no page count to report.
    unreadable(e);
  }
  return document;
}

PdfDocument::~PdfDocument() = default;

PrintedContent* PdfDocument::printedContent() {
  if (!printedContentMade_) {
    printedContent_ = PrintedContent::of(*qpdf_);
    printedContentMade_ = true;
  }
  return printedContent_.get();
}

}  // namespace vardelle::artwork
