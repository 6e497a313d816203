// Page content of a layered document, resolved as it prints: the input is the page's content
// stream, drawn with resources that name layers that print and that do not, a form that draws
// layered content and one that draws itself, a tiling pattern and a soft mask. Whatever the
// content, resolving ends with a result or a refusal, and the content it writes saves and
// restores the graphics state exactly as often as the content it read.
#include "artwork/printed_content.h"
// printed_content.h has set up qpdf's headers.
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/print_failure.h"

namespace {

struct Document {
  QPDF pdf;
  QPDFObjectHandle resources;

  Document() {
    vardelle::artwork::silenceQpdf(pdf);
    pdf.emptyPDF();
    auto object = [&](const std::string& text) {
      return pdf.makeIndirectObject(QPDFObjectHandle::parse(&pdf, text));
    };
    auto ref = [](QPDFObjectHandle o) { return o.getObjGen().unparse(' ') + " R"; };
    QPDFObjectHandle on = object("<< /Type /OCG /Name (On) >>");
    QPDFObjectHandle off = object("<< /Type /OCG /Name (Off) >>");
    QPDFObjectHandle ve = object("<< /Type /OCMD /OCGs [" + ref(on) + "] /VE [/Or " + ref(off) +
                                 " [/Not " + ref(on) + "]] >>");
    pdf.getRoot().replaceKey(
        "/OCProperties",
        QPDFObjectHandle::parse(&pdf, "<< /OCGs [" + ref(on) + " " + ref(off) + "] /D << /OFF [" +
                                          ref(off) + "] >> >>"));
    const std::string properties =
        "/Properties << /On " + ref(on) + " /Off " + ref(off) + " /Ve " + ref(ve) + " >>";
    auto stream = [&](const std::string& dictionary, const std::string& data) {
      QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
      for (const auto& [key, value] : QPDFObjectHandle::parse(&pdf, dictionary).ditems()) {
        s.getDict().replaceKey(key, value);
      }
      return s;
    };
    QPDFObjectHandle form =
        stream("<< /Subtype /Form /BBox [0 0 9 9] /Resources << " + properties + " >> >>",
               "/OC /Off BDC 0 0 9 9 re f EMC BT (a) Tj ET");
    QPDFObjectHandle loop = stream("<< /Subtype /Form /BBox [0 0 9 9] >>", "/Loop Do");
    loop.getDict().replaceKey(
        "/Resources",
        QPDFObjectHandle::parse(&pdf, "<< /XObject << /Loop " + ref(loop) + " >> >>"));
    QPDFObjectHandle pattern = stream(
        "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 2 2] /XStep 2 /YStep 2 "
        "/Resources << " +
            properties + " >> >>",
        "/OC /Off BDC 0 0 1 1 re f EMC");
    QPDFObjectHandle image = stream(
        "<< /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /OC " +
            ref(off) + " >>",
        std::string(1, '\0'));
    resources = QPDFObjectHandle::parse(
        &pdf, "<< " + properties + " /XObject << /Fm " + ref(form) + " /Loop " + ref(loop) +
                  " /Im " + ref(image) + " >> /Pattern << /P " + ref(pattern) +
                  " >> /ExtGState << /G << /SMask << /S /Luminosity /G " + ref(form) +
                  " >> >> >> >>");
  }
};

// The q and Q operators of `content`, as a reader tokenises it.
std::pair<size_t, size_t> saves(std::string content) {
  Buffer buffer(reinterpret_cast<unsigned char*>(content.data()), content.size());
  auto input = std::make_shared<BufferInputSource>("content", &buffer, false);
  QPDFTokenizer tokenizer;
  tokenizer.allowEOF();
  std::pair<size_t, size_t> count{0, 0};
  bool imageDictionary = false;
  for (;;) {
    QPDFTokenizer::Token token = tokenizer.readToken(input, "content", true);
    if (token.getType() == QPDFTokenizer::tt_eof) break;
    // Between BI and ID lies an inline image's dictionary, where a word is a (bad) value, not an
    // operator: the resolver writes or leaves out the image whole, dictionary and all, up to the
    // EI that ends it (with or without an ID).
    if (token.isWord("BI")) imageDictionary = true;
    if (token.isWord("EI")) imageDictionary = false;
    if (!imageDictionary && token.isWord("q")) ++count.first;
    if (!imageDictionary && token.isWord("Q")) ++count.second;
    if (token.isWord("ID")) {
      imageDictionary = false;
      char ch;
      input->read(&ch, 1);
      tokenizer.expectInlineImage(input);
    }
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A document per input: what one input made must not help the next.
  Document document;
  auto printed = vardelle::artwork::PrintedContent::of(document.pdf);
  try {
    QPDFObjectHandle contents = QPDFObjectHandle::newStream(
        &document.pdf, std::string(reinterpret_cast<const char*>(data), size));
    QPDFObjectHandle written = printed->page(contents, document.resources).contents;
    if (written.getObjGen() != contents.getObjGen()) {
      std::shared_ptr<Buffer> out = written.getStreamData(qpdf_dl_generalized);
      const std::string text(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
      if (saves(text) != saves(std::string(reinterpret_cast<const char*>(data), size))) {
        std::abort();
      }
    }
  } catch (const vardelle::PrintFailure&) {
  } catch (const std::runtime_error&) {
  }
  return 0;
}
