#include "testing/layered_pdf.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cstdio>
#include <stdexcept>

namespace vardelle::testing {

namespace {

constexpr double kSide = 30;   // a square's side, points
constexpr double kPitch = 45;  // from one square to the next
constexpr double kMargin = 60;

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", v);
  return text;
}

/// Hands out the page's squares: `count` side by side in one row, rows from half the page up.
class Cells {
 public:
  Cells(double width, double height) : columns_(int((width - 2 * kMargin - kSide) / kPitch) + 1) {
    y_ = height / 2;
    if (columns_ < 4) throw std::invalid_argument("a layered page needs room for four squares");
  }
  std::vector<PdfBox> take(int count) {
    if (column_ + count > columns_) {
      column_ = 0;
      y_ += kPitch;
    }
    std::vector<PdfBox> boxes;
    for (int i = 0; i < count; ++i, ++column_) {
      const double x = kMargin + column_ * kPitch;
      boxes.push_back({x, y_, x + kSide, y_ + kSide});
    }
    return boxes;
  }

 private:
  int columns_;
  int column_ = 0;
  double y_;
};

std::string square(const PdfBox& b, const std::string& fill = "0 g") {
  return "q " + fill + " " + number(b.llx) + " " + number(b.lly) + " " + number(kSide) + " " +
         number(kSide) + " re f Q\n";
}

std::string at(const PdfBox& b) { return "1 0 0 1 " + number(b.llx) + " " + number(b.lly) + " cm"; }

std::string span(const std::string& properties, const std::string& content) {
  return "/OC /" + properties + " BDC\n" + content + "EMC\n";
}

}  // namespace

LayeredPdf makeLayeredPdf(double widthPt, double heightPt, const std::string& printedContent) {
  QPDF pdf;
  pdf.emptyPDF();
  auto object = [&](const std::string& text) {
    return pdf.makeIndirectObject(QPDFObjectHandle::parse(&pdf, text));
  };
  auto ref = [](QPDFObjectHandle o) { return o.getObjGen().unparse(' ') + " R"; };
  auto stream = [&](const std::string& dictionary, const std::string& data) {
    QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
    QPDFObjectHandle d = QPDFObjectHandle::parse(&pdf, dictionary);
    for (const auto& [key, value] : d.ditems()) s.getDict().replaceKey(key, value);
    return s;
  };

  QPDFObjectHandle on = object("<< /Type /OCG /Name (Artwork) >>");
  QPDFObjectHandle off = object("<< /Type /OCG /Name (Sketch) >>");
  QPDFObjectHandle screenOnly = object(
      "<< /Type /OCG /Name (Die line) /Usage << /View << /ViewState /ON >> /Print << /PrintState "
      "/OFF >> >> >>");
  QPDFObjectHandle printOnly = object(
      "<< /Type /OCG /Name (Print marks) /Usage << /View << /ViewState /OFF >> /Print << "
      "/PrintState /ON >> >> >>");
  QPDFObjectHandle unlisted = object("<< /Type /OCG /Name (Unlisted) >>");
  auto membership = [&](const std::string& entries) {
    return object("<< /Type /OCMD " + entries + " >>");
  };
  const std::string both = "/OCGs [" + ref(on) + " " + ref(off) + "]";
  QPDFObjectHandle allOn = membership(both + " /P /AllOn");
  QPDFObjectHandle anyOn = membership(both);
  QPDFObjectHandle anyOff = membership(both + " /P /AnyOff");
  QPDFObjectHandle allOff = membership("/OCGs " + ref(on) + " /P /AllOff");
  QPDFObjectHandle veHides = membership("/OCGs [" + ref(on) + "] /P /AnyOn /VE [/Or " + ref(off) +
                                        " [/Not " + ref(on) + "]]");
  QPDFObjectHandle veShows = membership("/OCGs [" + ref(off) + "] /P /AllOn /VE [/And " + ref(on) +
                                        " [/Not " + ref(off) + "]]");
  QPDFObjectHandle notPrinted = membership("/OCGs [" + ref(screenOnly) + "]");

  const std::string groups =
      ref(on) + " " + ref(off) + " " + ref(screenOnly) + " " + ref(printOnly);
  const std::string usage = "/OCGs [" + ref(screenOnly) + " " + ref(printOnly) + "]";
  pdf.getRoot().replaceKey(
      "/OCProperties", QPDFObjectHandle::parse(
                           &pdf, "<< /OCGs [" + groups + "] /D << /Name (Default) /OFF [" +
                                     ref(off) + " " + ref(printOnly) + "] /AS [<< /Event /Print " +
                                     usage + " /Category [/Print] >> << /Event /View " + usage +
                                     " /Category [/View] >>] >> >>"));

  const std::string offProperties =
      "<< /Properties << /On " + ref(on) + " /Off " + ref(off) + " >> >>";
  QPDFObjectHandle formOff =
      stream("<< /Type /XObject /Subtype /Form /BBox [0 0 30 30] /OC " + ref(off) + " >>",
             "0 g 0 0 30 30 re f\n");
  QPDFObjectHandle formWithHidden = stream(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 30 30] /Resources " + offProperties + " >>",
      span("Off", "0 g 0 0 30 30 re f\n"));
  QPDFObjectHandle formDeep = stream(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 75 30] /Resources " + offProperties + " >>",
      span("On", "0 g 0 0 30 30 re f\n") + span("Off", "0 g 45 0 30 30 re f\n"));
  QPDFObjectHandle formOuter =
      stream("<< /Type /XObject /Subtype /Form /BBox [0 0 75 30] /Resources << /XObject << /Deep " +
                 ref(formDeep) + " >> >> >>",
             "/Deep Do\n");
  auto image = [&](const std::string& oc) {
    return stream(
        "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
        "/BitsPerComponent 8 /OC " +
            ref(oc == "off" ? off : on) + " >>",
        std::string(1, '\0'));
  };
  QPDFObjectHandle imageOff = image("off"), imageOn = image("on");
  auto pattern = [&](const std::string& layer) {
    return stream(
        "<< /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 6 6] "
        "/XStep 6 /YStep 6 /Resources " +
            offProperties + " >>",
        span(layer, "0 g 0 0 6 6 re f\n"));
  };
  QPDFObjectHandle patternOff = pattern("Off"), patternOn = pattern("On");
  QPDFObjectHandle font =
      object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");

  LayeredPdf out;
  out.widthPt = widthPt;
  out.heightPt = heightPt;
  Cells cells(widthPt, heightPt);
  std::string content = span("On", printedContent);
  auto add = [&](const std::string& what, bool prints,
                 const std::function<std::string(PdfBox)>& draw) {
    const PdfBox box = cells.take(1).front();
    out.squares.push_back({what, box, prints});
    content += draw(box);
  };
  auto inSpan = [&](const std::string& properties) {
    return [=](PdfBox b) { return span(properties, square(b)); };
  };
  add("outside any layer", true, [](PdfBox b) { return square(b); });
  add("a layer on", true, inSpan("On"));
  add("a layer off", false, inSpan("Off"));
  add("a layer shown on screen, /PrintState /OFF", false, inSpan("ScreenOnly"));
  add("a layer hidden on screen, /PrintState /ON", true, inSpan("PrintOnly"));
  add("an /OCMD /AllOn of a layer on and one off", false, inSpan("AllOn"));
  add("an /OCMD /AnyOn of a layer on and one off", true, inSpan("AnyOn"));
  add("an /OCMD /AnyOff of a layer on and one off", true, inSpan("AnyOff"));
  add("an /OCMD /AllOff of a layer on", false, inSpan("AllOff"));
  add("an /OCMD of a layer not printed", false, inSpan("NotPrinted"));
  add("a /VE that hides where its /P shows", false, inSpan("VeHides"));
  add("a /VE that shows where its /P hides", true, inSpan("VeShows"));
  add("a layer off inside a layer on", false,
      [](PdfBox b) { return span("On", span("Off", square(b))); });
  add("a layer on inside a layer off", false,
      [](PdfBox b) { return span("Off", span("On", square(b))); });
  add("a form whose /OC is off", false, [](PdfBox b) { return "q " + at(b) + " /FormOff Do Q\n"; });
  add("a layer off inside a form that prints", false,
      [](PdfBox b) { return "q " + at(b) + " /FormWithHidden Do Q\n"; });
  add("an image whose /OC is off", false, [](PdfBox b) {
    return "q 30 0 0 30 " + number(b.llx) + " " + number(b.lly) + " cm /ImageOff Do Q\n";
  });
  add("an image whose /OC is on", true, [](PdfBox b) {
    return "q 30 0 0 30 " + number(b.llx) + " " + number(b.lly) + " cm /ImageOn Do Q\n";
  });
  add("an inline image in a layer off", false, [](PdfBox b) {
    return span("Off", "q 30 0 0 30 " + number(b.llx) + " " + number(b.lly) +
                           " cm BI /W 1 /H 1 /CS /G /BPC 8 ID " + std::string(1, '\0') + " EI Q\n");
  });
  add("a shading in a layer off", false, [](PdfBox b) {
    return "q " + number(b.llx) + " " + number(b.lly) + " 30 30 re W n " +
           span("Off", "/Black sh\n") + "Q\n";
  });
  add("a tiling pattern whose cell is in a layer off", false,
      [](PdfBox b) { return square(b, "/Pattern cs /PatternOff scn"); });
  add("a tiling pattern whose cell is in a layer on", true,
      [](PdfBox b) { return square(b, "/Pattern cs /PatternOn scn"); });
  add("a colour set in a layer off, painted after it", true, [](PdfBox b) {
    return "q 1 g " + span("Off", "0 g\n") + number(b.llx) + " " + number(b.lly) +
           " 30 30 re f Q\n";
  });
  add("a layer that names a missing group", true, inSpan("Nowhere"));
  add("a group not listed in /OCProperties", true, inSpan("Unlisted"));
  add("a hidden text object", false, [](PdfBox b) {
    return "BT /F1 30 Tf " + number(b.llx) + " " + number(b.lly + 4) + " Td " +
           span("Off", "(H) Tj\n") + "ET\n";
  });
  {
    // Visible text placed after hidden text in one text object keeps its place.
    const std::vector<PdfBox> two = cells.take(2);
    out.squares.push_back({"hidden text before visible text", two[0], false});
    out.squares.push_back({"visible text after hidden text", two[1], true});
    content += "BT /F1 24 Tf " + number(two[0].llx) + " " + number(two[0].lly + 4) + " Td " +
               span("Off", "(MM) Tj\n") + "[-208.333 (H)] TJ ET\n";
  }
  {
    // A clip set in a hidden span still clips what is painted after it.
    const std::vector<PdfBox> two = cells.take(2);
    out.squares.push_back({"painted through a clip set in a layer off", two[0], true});
    out.squares.push_back({"outside a clip set in a layer off", two[1], false});
    content += "q " +
               span("Off", number(two[0].llx) + " " + number(two[0].lly) + " 30 30 re W n\n") +
               "0 g " + number(two[0].llx) + " " + number(two[0].lly) + " 75 30 re f Q\n";
  }
  {
    const std::vector<PdfBox> two = cells.take(2);
    out.squares.push_back({"a layer on two forms deep", two[0], true});
    out.squares.push_back({"a layer off two forms deep", two[1], false});
    content += "q " + at(two[0]) + " /FormOuter Do Q\n";
  }

  const std::string names =
      "/On " + ref(on) + " /Off " + ref(off) + " /ScreenOnly " + ref(screenOnly) + " /PrintOnly " +
      ref(printOnly) + " /AllOn " + ref(allOn) + " /AnyOn " + ref(anyOn) + " /AnyOff " +
      ref(anyOff) + " /AllOff " + ref(allOff) + " /NotPrinted " + ref(notPrinted) + " /VeHides " +
      ref(veHides) + " /VeShows " + ref(veShows) + " /Unlisted " + ref(unlisted);
  QPDFObjectHandle resources = QPDFObjectHandle::parse(
      &pdf,
      "<< /Properties << " + names + " >> /XObject << /FormOff " + ref(formOff) +
          " /FormWithHidden " + ref(formWithHidden) + " /FormOuter " + ref(formOuter) +
          " /ImageOff " + ref(imageOff) + " /ImageOn " + ref(imageOn) +
          " >> /Pattern << /PatternOff " + ref(patternOff) + " /PatternOn " + ref(patternOn) +
          " >> /Font << /F1 " + ref(font) +
          " >> /Shading << /Black << /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 1 0] "
          "/Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [0] /N 1 >> /Extend [true "
          "true] >> >> >>");
  QPDFObjectHandle page = QPDFObjectHandle::parse(
      &pdf, "<< /Type /Page /MediaBox [0 0 " + number(widthPt) + " " + number(heightPt) + "] >>");
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
  QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  out.pdf = writtenFixture(pdf);
  return out;
}

std::string withoutOptionalContentProperties(const std::string& bytes) {
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  pdf.processMemoryFile("layered", bytes.data(), bytes.size());
  pdf.getRoot().removeKey("/OCProperties");
  return writtenFixture(pdf);
}

std::vector<std::string> wrongSquares(const LayeredPdf& page,
                                      const std::function<int(double x, double y)>& darknessAt) {
  std::vector<std::string> wrong;
  for (const LayeredSquare& s : page.squares) {
    // A grid over the square's inside, away from its anti-aliased edges, dense enough to meet
    // the stems of a letter.
    int inked = 0;
    constexpr int kSteps = 16;
    for (int i = 0; i < kSteps; ++i) {
      for (int j = 0; j < kSteps; ++j) {
        const double x = s.box.llx + (s.box.urx - s.box.llx) * (0.1 + 0.8 * i / (kSteps - 1));
        const double y = s.box.lly + (s.box.ury - s.box.lly) * (0.1 + 0.8 * j / (kSteps - 1));
        if (darknessAt(x, y) > 128) ++inked;
      }
    }
    if (s.prints && inked < 4) wrong.push_back(s.what + " does not print");
    if (!s.prints && inked > 0) wrong.push_back(s.what + " prints");
  }
  return wrong;
}

namespace {

/// Where the page's point (x, y) lies in a picture of the sheet, in pixels from its top-left.
struct SheetMapping {
  const LayeredPdf& page;
  PdfBox placed;
  double sheetHeightPt;
  double pixelsX, pixelsY;  // per point
  std::pair<int, int> pixel(double x, double y) const {
    const double sheetX = placed.llx + x * (placed.urx - placed.llx) / page.widthPt;
    const double sheetY = placed.lly + y * (placed.ury - placed.lly) / page.heightPt;
    return {int(sheetX * pixelsX), int((sheetHeightPt - sheetY) * pixelsY)};
  }
};

}  // namespace

std::vector<std::string> wrongSquares(const LayeredPdf& page, const DecodedImage& picture,
                                      double pixelsPerPoint, const PdfBox& placed,
                                      double sheetHeightPt) {
  const SheetMapping map{page, placed, sheetHeightPt, pixelsPerPoint, pixelsPerPoint};
  return wrongSquares(page, [&](double x, double y) {
    const auto [i, j] = map.pixel(x, y);
    if (i < 0 || j < 0 || i >= picture.width || j >= picture.height) return 0;
    const DecodedImage::Pixel p = picture.at(i, j);
    return 255 - (p.r + p.g + p.b) / 3;
  });
}

std::vector<std::string> wrongSquares(const LayeredPdf& page, const DarknessImage& picture,
                                      const PdfBox& placed, double sheetHeightPt) {
  const SheetMapping map{page, placed, sheetHeightPt, picture.dpiX / 72, picture.dpiY / 72};
  return wrongSquares(page, [&](double x, double y) {
    const auto [i, j] = map.pixel(x, y);
    if (i < 0 || j < 0 || i >= picture.width || j >= picture.height) return 0;
    return int(picture.at(i, j));
  });
}

}  // namespace vardelle::testing
