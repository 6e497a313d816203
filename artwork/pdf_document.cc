#include "artwork/pdf_document.h"

#include <fcntl.h>
#include <qpdf/InputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "base/diagnostics.h"
#include "base/file_descriptor.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

const char* kUnreadablePdf = "This PDF could not be opened. It may be incomplete or damaged.";

// The user hears that the file is damaged; the developer hears where qpdf found it so.
[[noreturn]] void unreadable(const std::exception& e) {
  debugNote(std::string("qpdf: ") + e.what());
  throw PrintFailure(kUnreadablePdf);
}

// qpdf's own file source seeks through stdio before every object it reads, which throws away the
// stdio buffer each time: measuring a 1,000-page document cost thousands of lseek and read calls.
// This source reads the file in 64 KiB blocks with pread and keeps the last few, so the objects
// that qpdf visits close together cost one system call. The file is read, never mapped, so a file
// that shrinks while it is open ends early instead of faulting.
class BlockCachedFileSource : public InputSource {
 public:
  explicit BlockCachedFileSource(const std::string& path) : name_(path) {
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) {
      throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    }
    size_ = st.st_size;
  }
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
    if (whence == SEEK_END) target = size_ + offset;
    if (target < 0) throw std::runtime_error(name_ + ": seek before the start of the file");
    offset_ = target;
  }
  void rewind() override { offset_ = 0; }
  size_t read(char* buffer, size_t length) override {
    last_offset = offset_;
    size_t done = 0;
    while (done < length && offset_ < size_) {
      const Block& block = blockAt(offset_ / kBlockSize);
      const size_t within = size_t(offset_ % kBlockSize);
      if (within >= block.length) break;  // the file ended early
      const size_t n = std::min(length - done, block.length - within);
      std::memcpy(buffer + done, block.bytes.data() + within, n);
      done += n;
      offset_ += qpdf_offset_t(n);
    }
    return done;
  }
  void unreadCh(char) override {
    if (offset_ > 0) --offset_;
  }

 private:
  static constexpr qpdf_offset_t kBlockSize = 64 * 1024;
  struct Block {
    qpdf_offset_t index = -1;
    size_t length = 0;
    uint64_t lastUse = 0;
    std::vector<char> bytes;
  };

  const Block& blockAt(qpdf_offset_t index) {
    ++clock_;
    Block* victim = &blocks_[0];
    for (Block& b : blocks_) {
      if (b.index == index) {
        b.lastUse = clock_;
        return b;
      }
      if (b.lastUse < victim->lastUse) victim = &b;
    }
    victim->bytes.resize(size_t(kBlockSize));
    victim->index = index;
    victim->lastUse = clock_;
    victim->length = 0;
    while (victim->length < size_t(kBlockSize)) {
      const ssize_t n = ::pread(fd_.get(), victim->bytes.data() + victim->length,
                                size_t(kBlockSize) - victim->length,
                                off_t(index * kBlockSize + qpdf_offset_t(victim->length)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        victim->index = -1;
        throw std::runtime_error(name_ + ": " + std::strerror(errno));
      }
      if (n == 0) break;
      victim->length += size_t(n);
    }
    return *victim;
  }

  std::string name_;
  FileDescriptor fd_;
  qpdf_offset_t size_ = 0;
  qpdf_offset_t offset_ = 0;
  uint64_t clock_ = 0;
  std::array<Block, 8> blocks_;
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

std::shared_ptr<PdfDocument> PdfDocument::open(const std::string& path) {
  auto document = std::shared_ptr<PdfDocument>(new PdfDocument);
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

}  // namespace vardelle::artwork
