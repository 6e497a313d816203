#include "artwork/sheet_document.h"

#include "artwork/pdf_document.h"
// pdf_document.h has set up qpdf's headers.
#include <gtest/gtest.h>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstring>
#include <fstream>
#include <random>

#include "base/files.h"
#include "base/print_failure.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

// Samples of noise, so that compressing them keeps nearly every byte.
std::shared_ptr<Pixels> noise(uint32_t width, uint32_t height, int bitDepth, int channels,
                              unsigned seed) {
  auto pixels = std::make_shared<Pixels>();
  pixels->width = width;
  pixels->height = height;
  pixels->bitDepth = bitDepth;
  pixels->channels = channels;
  pixels->hasAlpha = channels == 2 || channels == 4;
  pixels->bytes.resize(pixels->rowBytes() * height);
  std::mt19937 random(seed);
  for (auto& byte : pixels->bytes) byte = static_cast<unsigned char>(random());
  return pixels;
}

PngPage madePage(std::shared_ptr<const Pixels> pixels) {
  PngPage page;
  page.header.width = pixels->width;
  page.header.height = pixels->height;
  page.header.bitDepth = pixels->bitDepth;
  page.header.colorType = pixels->channels >= 3
                              ? (pixels->hasAlpha ? PngColorType::rgbAlpha : PngColorType::rgb)
                              : (pixels->hasAlpha ? PngColorType::grayAlpha : PngColorType::gray);
  page.header.hasAlpha = pixels->hasAlpha;
  page.pixels = std::move(pixels);
  return page;
}

/// Rows of `pixels` made one at a time; calls `onLastRow` just before handing over the last, and
/// throws PrintFailure instead of making row `failAt`.
class CountedRows : public RowSource {
 public:
  CountedRows(std::shared_ptr<const Pixels> pixels, std::function<void()> onLastRow,
              uint32_t failAt = UINT32_MAX)
      : pixels_(std::move(pixels)), onLastRow_(std::move(onLastRow)), failAt_(failAt) {}
  void forEachRow(
      const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const override {
    for (uint32_t y = 0; y < pixels_->height; ++y) {
      if (y == failAt_) throw PrintFailure(kPngUnreadable);
      if (y + 1 == pixels_->height && onLastRow_) onLastRow_();
      onRow(y, pixels_->bytes.data() + y * pixels_->rowBytes());
    }
  }

 private:
  std::shared_ptr<const Pixels> pixels_;
  std::function<void()> onLastRow_;
  uint32_t failAt_;
};

/// One sheet per page, each drawing its image over the whole sheet.
std::unique_ptr<SheetDocument> sheetsOf(const std::vector<PngPage>& pages) {
  auto document = std::make_unique<SheetDocument>();
  document->setInfo("KORVANEL Print", "Print preview");
  for (const PngPage& page : pages) {
    document->beginSheet({200, 100});
    document->appendContent("q 200 0 0 100 0 0 cm " + document->imageXObjectFor(page) + " Do Q\n");
  }
  return document;
}

/// The file as a reader that refuses to repair it sees it: every offset of the table must lead
/// to its object.
struct Strict {
  QPDF pdf;
  explicit Strict(const std::string& bytes) {
    silenceQpdf(pdf);
    pdf.setAttemptRecovery(false);
    pdf.processMemoryFile("sheets", bytes.data(), bytes.size());
    for (auto& object : pdf.getAllObjects()) {
      if (object.isStream()) object.getStreamData(qpdf_dl_all);
    }
  }
};

// Samples in PDF order: 16-bit samples big-endian, colour and alpha apart.
std::string plane(const Pixels& p, bool alpha) {
  std::string out;
  const int bytes = p.bitDepth / 8;
  const int colors = p.channels - (p.hasAlpha ? 1 : 0);
  for (size_t i = 0; i < size_t(p.width) * p.height; ++i) {
    for (int c = alpha ? colors : 0; c < (alpha ? colors + 1 : colors); ++c) {
      const unsigned char* s = p.bytes.data() + (i * p.channels + c) * bytes;
      if (bytes == 1) {
        out += char(s[0]);
      } else {
        uint16_t v;
        std::memcpy(&v, s, 2);
        out += char(v >> 8);
        out += char(v & 0xff);
      }
    }
  }
  return out;
}

std::string dataOf(QPDFObjectHandle stream) {
  auto data = stream.getStreamData(qpdf_dl_all);
  return {reinterpret_cast<const char*>(data->getBuffer()), data->getSize()};
}

TEST(SheetDocument, MadeRastersStreamBehindATableEveryStrictReaderFollows) {
  const auto wide = noise(300, 200, 16, 3, 1);
  const auto translucent = noise(120, 90, 8, 4, 2);
  const std::string bytes = sheetsOf({madePage(wide), madePage(translucent)})->write();

  Strict file(bytes);
  auto pages = QPDFPageDocumentHelper(file.pdf).getAllPages();
  ASSERT_EQ(pages.size(), 2u);
  auto first = pages[0].getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im1");
  auto second = pages[1].getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im2");
  EXPECT_TRUE(first.getDict().getKey("/Length").isIndirect()) << "known only once written";
  EXPECT_EQ(first.getDict().getKey("/BitsPerComponent").getIntValue(), 16);
  EXPECT_EQ(dataOf(first), plane(*wide, false));
  EXPECT_EQ(dataOf(second), plane(*translucent, false));
  EXPECT_EQ(dataOf(second.getDict().getKey("/SMask")), plane(*translucent, true));
  QPDFObjectHandle info = file.pdf.getTrailer().getKey("/Info");
  EXPECT_EQ(info.getKey("/Title").getUTF8Value(), "Print preview");
  EXPECT_EQ(file.pdf.getTrailer().getKey("/ID").getArrayNItems(), 2);
}

TEST(SheetDocument, TheSameRequestGivesTheSameBytesOnAnyNumberOfThreads) {
  const auto pixels = noise(700, 400, 16, 3, 3);
  auto writtenWith = [&](unsigned threads, std::shared_ptr<const Pixels> samples) {
    auto document = sheetsOf({madePage(samples)});
    document->setCompressionThreads(threads);
    return document->write();
  };
  const std::string reference = writtenWith(1, pixels);
  for (unsigned threads : {2u, 3u, 0u}) EXPECT_EQ(writtenWith(threads, pixels), reference);

  // One sample more or less is another file, and says so in its identifier.
  auto changed = std::make_shared<Pixels>(*pixels);
  changed->bytes[changed->bytes.size() / 2] ^= 1;
  Strict a(reference), b(writtenWith(0, changed));
  EXPECT_NE(a.pdf.getTrailer().getKey("/ID").getArrayItem(0).getStringValue(),
            b.pdf.getTrailer().getKey("/ID").getArrayItem(0).getStringValue());
}

TEST(SheetDocument, ARasterReachesTheSinkWhileItsRowsAreStillBeingMade) {
  // 12 MB of samples that do not compress: held whole, nothing would reach the sink before the
  // last row is made.
  const auto pixels = noise(2000, 1000, 16, 3, 4);
  size_t received = 0;
  size_t receivedBeforeLastRow = 0;
  PngPage page = madePage(pixels);
  page.pixels = nullptr;
  page.rows = std::make_shared<CountedRows>(pixels, [&] { receivedBeforeLastRow = received; });
  sheetsOf({page})->write([&](std::string_view bytes) { received += bytes.size(); });
  EXPECT_GT(received, pixels->bytes.size());
  EXPECT_GT(receivedBeforeLastRow, received / 3);
}

TEST(SheetDocument, ARowSourceFailingMidwayLeavesTheOldFileByteForByte) {
  testing::TempDir dir;
  const std::string path = dir.write("preview.pdf", "the old preview");
  const auto pixels = noise(2000, 1000, 16, 3, 5);
  PngPage page = madePage(pixels);
  page.pixels = nullptr;
  page.rows = std::make_shared<CountedRows>(pixels, nullptr, 700);
  auto document = sheetsOf({page});
  try {
    writeFileAtomically(path, [&](const ByteSink& sink) { document->write(sink); });
    FAIL() << "the failure did not pass";
  } catch (const PrintFailure& failure) {
    EXPECT_STREQ(failure.what(), kPngUnreadable);
  }
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the old preview");
}

}  // namespace
}  // namespace vardelle::artwork
