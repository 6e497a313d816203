// The plain reader must give qpdf's answer or none: every case here is judged against the qpdf
// loader on the same bytes.
#include <gtest/gtest.h>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <functional>

#include "artwork/artwork.h"
#include "artwork/plain_pdf_reader.h"
#include "base/artwork_format.h"
#include "base/print_failure.h"
#include "testing/environment_override.h"
#include "testing/hostile_pdf.h"
#include "testing/layered_pdf.h"
#include "testing/pdf_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::PdfPageOptions;
using testing::TempDir;

// Everything inspect and drawing take from a page, or the sentence loading ended with.
std::string measured(const std::function<Artwork()>& load) {
  try {
    const Artwork artwork = load();
    std::string out = artwork.format + " " + std::to_string(artwork.pages.size()) + " pages";
    for (const ArtworkPage& page : artwork.pages) {
      const PdfPage& pdf = *page.pdf();
      char line[512];
      std::snprintf(line, sizeof line,
                    "\n%.17g x %.17g rotate %d unit %.17g media %.17g %.17g %.17g %.17g crop %.17g "
                    "%.17g %.17g %.17g",
                    page.size.width, page.size.height, pdf.rotation, pdf.userUnit, pdf.mediaBox.x,
                    pdf.mediaBox.y, pdf.mediaBox.width, pdf.mediaBox.height, pdf.cropBox.x,
                    pdf.cropBox.y, pdf.cropBox.width, pdf.cropBox.height);
      out += line;
    }
    for (const std::string& warning : artwork.warnings) out += "\n" + warning;
    return out;
  } catch (const PrintFailure& failure) {
    return std::string("refused: ") + failure.what();
  }
}

struct Corpus {
  TempDir dir;
  int files = 0;

  std::string write(const std::string& bytes) {
    return dir.write("case" + std::to_string(++files) + ".pdf", bytes);
  }

  // The plain reader answers for `bytes`, and answers as qpdf does.
  void expectRead(const std::string& bytes, const std::string& what) {
    const std::string path = write(bytes);
    std::optional<Artwork> plain;
    std::string plainResult;
    try {
      plain = Artwork::loadPlainPdf(path);
      if (!plain) {
        ADD_FAILURE() << what << ": declined";
        return;
      }
    } catch (const PrintFailure& failure) {
      plainResult = std::string("refused: ") + failure.what();
    }
    if (plain) plainResult = measured([&] { return *plain; });
    EXPECT_EQ(plainResult, measured([&] { return Artwork::loadPdf(path); })) << what;
  }

  void expectDeclined(const std::string& bytes, const std::string& what) {
    const std::string path = write(bytes);
    EXPECT_EQ(Artwork::loadPlainPdf(path), std::nullopt) << what;
  }
};

// `pdf` with `from` replaced by `to` of the same length, so that every offset stays right.
std::string edited(std::string pdf, const std::string& from, std::string to) {
  const size_t at = pdf.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  EXPECT_LE(to.size(), from.size());
  to.resize(from.size(), ' ');
  return pdf.replace(at, from.size(), to);
}

// Pages that inherit from two levels of page tree nodes: object 3 is a node holding page 7.
std::string treeOfPages() {
  PdfPageOptions node;
  node.rawObject =
      "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 /Rotate -90 "
      "/CropBox [10 20 250 380] >>";
  PdfPageOptions own;
  own.mediaBox = "[0 0 300 400]";
  own.userUnit = "2.5";
  own.rotate = "180.0";
  PdfPageOptions inherits;
  inherits.mediaBox.clear();
  std::string pdf =
      testing::makePdf({node, own, inherits}, "/MediaBox [0 0 595.28 841.89] /Rotate 90");
  pdf = edited(pdf, "/Kids [3 0 R 5 0 R 7 0 R ]", "/Kids [5 0 R 3 0 R]");
  return edited(pdf, "/Parent 2 0 R /Contents 8 0 R", "/Parent 3 0 R /Contents 8 0 R");
}

TEST(PlainPdfReader, ReadsWhatRealWritersWriteAsQpdfReadsIt) {
  Corpus corpus;
  const std::string base = treeOfPages();
  corpus.expectRead(base, "hand-written tables");
  corpus.expectRead(testing::makePdfOfPages(40, 612, 792), "forty pages");
  corpus.expectRead(testing::readFile(VARDELLE_SOURCE_DIR "/samples/artwork.pdf"), "sample");
  testing::FixturePage page;
  page.withFont = true;
  page.withAnnotation = true;
  page.cropBox = testing::PdfBox{5, 5, 500, 700};
  page.userUnit = 1.5;
  corpus.expectRead(testing::makeFixturePdf({page, page}), "qpdf's own fixture");

  corpus.expectRead(
      testing::rewritePdf(base, [](QPDFWriter& w) { w.setObjectStreamMode(qpdf_o_generate); }),
      "object and cross-reference streams");
  corpus.expectRead(testing::rewritePdf(base,
                                        [](QPDFWriter& w) {
                                          w.setObjectStreamMode(qpdf_o_generate);
                                          w.setLinearization(true);
                                        }),
                    "linearized with object streams");
  corpus.expectRead(testing::rewritePdf(base, [](QPDFWriter& w) { w.setLinearization(true); }),
                    "linearized");
  corpus.expectRead(testing::rewritePdf(base, [](QPDFWriter& w) { w.setQDFMode(true); }), "QDF");
  corpus.expectRead(testing::rewritePdf(base,
                                        [](QPDFWriter& w) {
                                          w.setCompressStreams(false);
                                          w.setObjectStreamMode(qpdf_o_generate);
                                        }),
                    "uncompressed content, object streams");

  // Ghostscript and cairo write their own structure.
  const std::string source = corpus.write(base);
  const std::string ghostscript = corpus.dir.file("gs.pdf");
  const std::string cairo = corpus.dir.file("cairo.pdf");
  ASSERT_EQ(testing::runProcess({"/usr/bin/gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER",
                                 "-sDEVICE=pdfwrite", "-o", ghostscript, source})
                .exitStatus,
            0);
  ASSERT_EQ(testing::runProcess({"/usr/bin/pdftocairo", "-pdf", source, cairo}).exitStatus, 0);
  corpus.expectRead(testing::readFile(ghostscript), "Ghostscript");
  corpus.expectRead(testing::readFile(cairo), "cairo");
}

TEST(PlainPdfReader, PageEntriesAreJudgedAsQpdfReadsThem) {
  Corpus corpus;
  auto one = [](PdfPageOptions page, const std::string& inherited = "") {
    return testing::makePdf({std::move(page)}, inherited);
  };
  PdfPageOptions page;
  page.mediaBox = "[ -.0 +0 612. (792) ]";  // not four numbers: no media box
  corpus.expectRead(one(page), "a string among the corners");
  page.mediaBox = "[-.0 +0 +612. 792.000000000000000000001]";
  corpus.expectRead(one(page), "numbers written in every way PDF allows");
  page.mediaBox = "[612 792 0 0]";
  page.cropBox = "[-10 -10 100 100]";
  corpus.expectRead(one(page), "corners in any order, crop box beyond the media box");
  page.cropBox = "[0 0 100]";
  corpus.expectRead(one(page), "a crop box of three numbers shows the media box");
  page.cropBox = "[200 200 300 300]";
  page.mediaBox = "[0 0 100 100]";
  corpus.expectRead(one(page), "boxes that do not meet");
  page = {};
  page.rotate = "45";
  corpus.expectRead(one(page), "a rotation that is no quarter turn");
  page.rotate = "-450";
  corpus.expectRead(one(page), "a negative rotation past a whole turn");
  page.rotate = "90.5";
  corpus.expectRead(one(page), "a rotation with a fraction");
  page.rotate = "/Ninety";
  corpus.expectRead(one(page), "a rotation that is a name");
  page.rotate = "null";
  corpus.expectRead(one(page, "/Rotate 270"), "a null rotation inherits");
  page = {};
  page.userUnit = "0";
  corpus.expectRead(one(page), "no physical unit");
  page.userUnit = "(two)";
  corpus.expectRead(one(page, "/UserUnit 3"), "a unit that is a string, and none inherited");
  page = {};
  page.mediaBox.clear();
  corpus.expectRead(one(page), "no media box anywhere");
  page.extra =
      "% a comment\n/Resources << /ProcSet [/PDF /Text] /Font << /Times#20Roman 9 0 R "
      ">> >> /Annots [(x\\)y) <41 42> true false null 1 0 R]";
  corpus.expectRead(one(page, "/MediaBox [0 0 10.25 20.125]"), "comments, strings and names");
}

// Appends an update to `pdf`: objects given as "n g" → body, and a table with /Prev.
std::string updated(const std::string& pdf,
                    const std::vector<std::pair<std::string, std::string>>& objects,
                    const std::vector<int>& freed = {}) {
  std::string out = pdf;
  const size_t previous = std::stoul(pdf.substr(pdf.rfind("startxref") + 10));
  std::string table = "xref\n";
  for (const auto& [id, body] : objects) {
    const size_t offset = out.size();
    out += id + " obj\n" + body + "\nendobj\n";
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    table += id.substr(0, id.find(' ')) + " 1\n" + entry;
  }
  for (int number : freed) table += std::to_string(number) + " 1\n0000000000 00001 f \n";
  const size_t xref = out.size();
  const std::string trailer = pdf.substr(pdf.rfind("trailer"));
  const size_t size = std::stoul(trailer.substr(trailer.find("/Size") + 6));
  out += table + "trailer\n<< /Size " + std::to_string(size + 1) + " /Root 1 0 R /Prev " +
         std::to_string(previous) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

TEST(PlainPdfReader, TheNewestUpdateCounts) {
  Corpus corpus;
  const std::string base = testing::makePdfOfPages(2, 612, 792);
  // Page 1 is object 3: the update gives it another size and units.
  const std::string once =
      updated(base, {{"3 0",
                      "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /MediaBox [0 0 300 300] "
                      "/UserUnit 2 >>"}});
  corpus.expectRead(once, "an updated page");
  const std::string twice = updated(once, {{"3 0",
                                            "<< /Type /Page /Parent 2 0 R /MediaBox "
                                            "[0 0 100 50] >>"}});
  corpus.expectRead(twice, "two updates");
  corpus.expectRead(
      testing::rewritePdf(twice, [](QPDFWriter& w) { w.setObjectStreamMode(qpdf_o_generate); }),
      "written again with object streams");
  // A page freed by the update: qpdf no longer finds it, and this reader must not either.
  corpus.expectDeclined(updated(base, {}, {3}), "a freed page");
}

TEST(PlainPdfReader, DeclinesWhatOnlyQpdfReadsRight) {
  Corpus corpus;
  const std::string base = testing::makePdfOfPages(2);
  // Two pages, the second with `extra` entries or written as `raw`.
  auto withPage = [](const std::string& extra, const std::string& raw = "",
                     const std::string& inherited = "") {
    PdfPageOptions page;
    page.extra = extra;
    page.rawObject = raw;
    return testing::makePdf({PdfPageOptions{}, page}, inherited);
  };
  corpus.expectDeclined(testing::encryptPdf(base, "", true), "encrypted");
  corpus.expectDeclined("\n" + base, "offsets measured from a header further on");
  std::string nowhere = base;
  corpus.expectDeclined(nowhere.replace(nowhere.rfind("startxref") + 10, 0, "1"),
                        "a table that is not there");
  corpus.expectDeclined(edited(base, "2 0 obj", "9 0 obj"), "an object that is not where it says");
  corpus.expectDeclined(withPage("/MediaBox [0 0 1 1]"), "a repeated key");
  corpus.expectDeclined(withPage("/Rot#61te 90"), "an escaped name that qpdf reads as /Rotate");
  corpus.expectDeclined(withPage("/Annots word"), "a word qpdf reads as a string");
  corpus.expectDeclined(withPage("", "", "/Parent 1 0 R"), "a page tree root that points higher");
  corpus.expectDeclined(edited(withPage(""), "/Kids [3 0 R 5 0 R ]", "/Kids [3 0 R 3 0 R]"),
                        "a repeated page");
  corpus.expectDeclined(withPage("", "<< /Type /Pages /Kids [2 0 R] /Count 1 >>"),
                        "a page tree that loops");
  corpus.expectDeclined(withPage("", "<< /Type /Pages /Kids [<< /Type /Page >>] >>"),
                        "a page written inside its node");
  std::string lzw =
      testing::rewritePdf(base, [](QPDFWriter& w) { w.setObjectStreamMode(qpdf_o_generate); });
  lzw.replace(lzw.rfind("/FlateDecode"), 12, "/LZWDecode  ");
  corpus.expectDeclined(lzw, "a filter this reader does not undo");
  std::string hybrid = base;
  corpus.expectDeclined(hybrid.replace(hybrid.rfind("trailer\n<<") + 10, 0, " /XRefStm 9"),
                        "a hybrid file");
}

// Layers take qpdf to name (inspect's warning), not to measure: the pages of a layered file are
// read plainly and only its catalog by qpdf, with the answer the qpdf loader gives.
TEST(PlainPdfReader, ALayeredFileIsMeasuredPlainlyAndItsLayersNamedByQpdf) {
  Corpus corpus;
  const std::string path = corpus.write(testing::makeLayeredPdf(450, 600).pdf);
  EXPECT_EQ(Artwork::loadPlainPdf(path), std::nullopt);
  bool layered = false;
  ASSERT_TRUE(Artwork::loadPlainPdf(path, &layered));
  EXPECT_TRUE(layered);
  const std::string byQpdf = measured([&] { return Artwork::loadPdf(path); });
  EXPECT_NE(byQpdf.find("This PDF has layers set not to print"), std::string::npos) << byQpdf;
  EXPECT_EQ(measured([&] { return Artwork::loadPdfToMeasure(path); }), byQpdf);

  const std::string plain = corpus.write(testing::makePdfOfPages(2));
  ASSERT_TRUE(Artwork::loadPlainPdf(plain, &layered));
  EXPECT_FALSE(layered);
  EXPECT_EQ(measured([&] { return Artwork::loadPdfToMeasure(plain); }),
            measured([&] { return Artwork::loadPdf(plain); }));
}

// A page whose resources reach `objects` optional-content dictionaries, written by qpdf with
// object streams: the structure that compresses best, as writers of today store it.
std::string pageReachingObjectStreams(int objects) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle properties = QPDFObjectHandle::newDictionary();
  for (int i = 0; i < objects; ++i) {
    properties.replaceKey("/P" + std::to_string(i),
                          pdf.makeIndirectObject(QPDFObjectHandle::parse(
                              "<< /Type /OCG /Name (layer) /Intent [/View /Design] "
                              "/Usage << /Print << /PrintState /ON >> >> >>")));
  }
  QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  resources.replaceKey("/Properties", properties);
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "0 0 10 10 re f"));
  QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setStaticID(true);
  writer.setObjectStreamMode(qpdf_o_generate);
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

// The values qpdf builds for `object` itself: each key and value, a reference without what it
// leads to, and a page's /Parent without its value (copying a page never goes up the tree).
size_t valuesIn(QPDFObjectHandle object, bool top = true) {
  if (!top && object.isIndirect()) return 1;
  if (object.isArray()) {
    size_t n = 1;
    for (const QPDFObjectHandle& item : object.getArrayAsVector()) n += valuesIn(item, false);
    return n;
  }
  if (object.isDictionary() || object.isStream()) {
    size_t n = 1;
    for (const auto& [key, value] :
         (object.isStream() ? object.getDict() : object).getDictAsMap()) {
      n += key == "/Parent" ? 1 : 1 + valuesIn(value, false);
    }
    return n;
  }
  return 1;
}

TEST(PlainPdfReader, CountsWhatThePagesReachOnceAsQpdfBuildsIt) {
  TempDir dir;
  const std::string path = dir.write("dense.pdf", pageReachingObjectStreams(500));
  // qpdf parses every object of an object stream it touches, once, and a stream's dictionary.
  QPDF pdf;
  pdf.processFile(path.c_str());
  size_t expected = 0;
  for (const auto& [id, entry] : pdf.getXRefTable()) {
    QPDFObjectHandle object = pdf.getObjectByObjGen(id);
    if (entry.getType() == 2) {
      expected += valuesIn(object);
    } else if (entry.getType() == 1 && object.isStream() &&
               !object.getDict().getKey("/Type").isNameAndEquals("/ObjStm") &&
               !object.getDict().getKey("/Type").isNameAndEquals("/XRef")) {
      expected += valuesIn(object);  // the page's content stream
    }
  }
  const PdfStructureCount count = countPdfStructure(path);
  EXPECT_EQ(count.stoppedBy, "");
  EXPECT_EQ(count.copiedValues, expected);
  // Far more values than bytes / 8: such a file is read, whatever the mode.
  EXPECT_GT(count.copiedValues, size_t(count.fileBytes) / 8);
  EXPECT_TRUE(checkPdfBeforeQpdf(path));
  Corpus corpus;
  corpus.expectRead(testing::readFile(path), "500 objects in object streams");
}

TEST(PlainPdfReader, EveryModeRefusesWhatThePagesReachAndTheNoteSaysWhy) {
  TempDir dir;
  testing::HostileRecipe bomb;
  bomb.shape = testing::HostileShape::emptyArrayBomb;
  bomb.count = 3000000;
  bomb.key = "Resources";  // never read for the page's size
  const std::string hostile = dir.write("bomb.pdf", testing::hostilePdf(bomb));
  const std::string encrypted =
      dir.write("encrypted.pdf", testing::encryptPdf(testing::makePdfOfPages(1), "", true));
  testing::EnvironmentOverride environment;
  environment.set({{"VARDELLE_DEBUG", "1"}});

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(measured([&] { return *Artwork::loadPlainPdf(hostile); }),
            std::string("refused: ") + kUnreadablePdfSentence);
  EXPECT_THROW(checkPdfBeforeQpdf(hostile), PrintFailure);
  EXPECT_EQ(Artwork::loadPlainPdf(encrypted), std::nullopt);
  const std::string notes = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(notes.find("plain PDF reader: refused: more than 2,000,000 values reached from the "
                       "pages\n"),
            std::string::npos)
      << notes;
  EXPECT_NE(notes.find("plain PDF check: refused: more than 2,000,000 values reached"),
            std::string::npos)
      << notes;
  EXPECT_NE(notes.find("plain PDF reader: declined: an encrypted file\n"), std::string::npos)
      << notes;
}

}  // namespace
}  // namespace vardelle::artwork
