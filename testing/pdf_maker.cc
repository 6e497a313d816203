#include "testing/pdf_maker.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <memory>

namespace vardelle::testing {

namespace {

QPDFObjectHandle box(const PdfBox& b) {
  return QPDFObjectHandle::newArray(
      {QPDFObjectHandle::newReal(b.llx, 4), QPDFObjectHandle::newReal(b.lly, 4),
       QPDFObjectHandle::newReal(b.urx, 4), QPDFObjectHandle::newReal(b.ury, 4)});
}

}  // namespace

std::string makeFixturePdf(const std::vector<FixturePage>& pages) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle font = pdf.makeIndirectObject(
      QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
  QPDFPageDocumentHelper helper(pdf);
  std::vector<QPDFObjectHandle> made;
  for (const FixturePage& p : pages) {
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", box(p.mediaBox));
    if (p.cropBox) page.replaceKey("/CropBox", box(*p.cropBox));
    if (p.trimBox) page.replaceKey("/TrimBox", box(*p.trimBox));
    if (p.rotate != 0) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(p.rotate));
    if (p.userUnit) page.replaceKey("/UserUnit", QPDFObjectHandle::newReal(*p.userUnit, 4));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    if (p.withFont) {
      resources.replaceKey("/Font", QPDFObjectHandle::newDictionary({{"/F1", font}}));
    }
    page.replaceKey("/Resources", pdf.makeIndirectObject(resources));
    QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, p.content);
    if (!p.moreContents.empty()) {
      contents = QPDFObjectHandle::newArray({contents});
      for (const auto& more : p.moreContents) {
        contents.appendItem(QPDFObjectHandle::newStream(&pdf, more));
      }
    }
    page.replaceKey("/Contents", contents);
    if (p.sameContentAs) {
      QPDFObjectHandle earlier = made.at(*p.sameContentAs);
      page.replaceKey("/Contents", earlier.getKey("/Contents"));
      page.replaceKey("/Resources", earlier.getKey("/Resources"));
    }
    if (p.withAnnotation) {
      QPDFObjectHandle appearance = QPDFObjectHandle::newStream(&pdf, "1 0 0 rg 0 0 50 50 re f");
      appearance.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
      appearance.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
      appearance.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 50 50]"));
      QPDFObjectHandle annot = pdf.makeIndirectObject(
          QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Square /Rect [0 0 50 50] /F 4 >>"));
      annot.replaceKey("/AP", QPDFObjectHandle::newDictionary({{"/N", appearance}}));
      page.replaceKey("/Annots", QPDFObjectHandle::newArray({annot}));
    }
    made.push_back(pdf.makeIndirectObject(page));
    helper.addPage(QPDFPageObjectHelper(made.back()), false);
  }
  return writtenFixture(pdf);
}

std::string writtenFixture(QPDF& pdf) {
  QPDFWriter writer(pdf);
  writer.setOutputMemory();
  writer.setDeterministicID(true);
  writer.write();
  std::unique_ptr<Buffer> buffer(writer.getBuffer());
  return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

std::string fillRect(double x, double y, double w, double h, double r, double g, double b) {
  char text[256];
  std::snprintf(text, sizeof text, "q %g %g %g rg %g %g %g %g re f Q\n", r, g, b, x, y, w, h);
  return text;
}

}  // namespace vardelle::testing
