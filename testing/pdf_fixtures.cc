#include "testing/pdf_fixtures.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <sstream>

namespace vardelle::testing {

std::string makePdf(const std::vector<PdfPageOptions>& pages, const std::string& inheritedEntries) {
  std::vector<std::string> objects;  // object i + 1
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    kids += std::to_string(3 + 2 * i) + " 0 R ";
  }
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) +
                    " " + inheritedEntries + " >>");
  for (size_t i = 0; i < pages.size(); ++i) {
    const PdfPageOptions& p = pages[i];
    std::string page = p.rawObject;
    if (page.empty()) {
      page = "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(4 + 2 * i) + " 0 R";
      if (!p.mediaBox.empty()) page += " /MediaBox " + p.mediaBox;
      if (!p.cropBox.empty()) page += " /CropBox " + p.cropBox;
      if (!p.rotate.empty()) page += " /Rotate " + p.rotate;
      if (!p.userUnit.empty()) page += " /UserUnit " + p.userUnit;
      if (!p.extra.empty()) page += " " + p.extra;
      page += " >>";
    }
    objects.push_back(page);
    const std::string content = "0.2 0.4 0.8 rg 10 10 50 50 re f\n";
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "endstream");
  }
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string makePdfOfPages(size_t count, double width, double height) {
  std::ostringstream box;
  box << "[0 0 " << width << " " << height << "]";
  PdfPageOptions page;
  page.mediaBox = box.str();
  return makePdf(std::vector<PdfPageOptions>(count, page));
}

std::string rewritePdf(const std::string& pdf, const std::function<void(QPDFWriter&)>& configure) {
  QPDF source;
  source.setSuppressWarnings(true);
  source.processMemoryFile("fixture.pdf", pdf.data(), pdf.size());
  QPDFWriter writer(source);
  writer.setOutputMemory();
  writer.setStaticID(true);
  configure(writer);
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::string encryptPdf(const std::string& pdf, const std::string& userPassword,
                       bool allowPrinting) {
  return rewritePdf(pdf, [&](QPDFWriter& writer) {
    writer.setR6EncryptionParameters(userPassword.c_str(), "owner-secret", true, true, true, true,
                                     true, true, allowPrinting ? qpdf_r3p_full : qpdf_r3p_none,
                                     true);
  });
}

}  // namespace vardelle::testing
