#include "artwork/preview.h"

#define POINTERHOLDER_TRANSITION 4
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cmath>
#include <set>

#include "artwork/paper_geometry.h"
#include "artwork/placement.h"
#include "artwork/sheet_document.h"
#include "base/print_failure.h"
#include "testing/layered_pdf.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/raster_probe.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::FixturePage;
using testing::PdfBox;

constexpr int kDpi = 150;
constexpr double kSquareFraction = 0.15;

struct Colour {
  const char* name;
  double r, g, b;
};
// One colour per corner of the visible box in the page's own coordinates.
constexpr Colour kLowerLeft{"red", 1, 0, 0};
constexpr Colour kLowerRight{"green", 0, 1, 0};
constexpr Colour kUpperLeft{"blue", 0, 0, 1};
constexpr Colour kUpperRight{"yellow", 1, 1, 0};

// A page whose visible box is light grey with a coloured square in each corner; everything of the
// media box outside the crop box is magenta, which must never show.
FixturePage cornerPage(PdfBox media, std::optional<PdfBox> crop, int rotate,
                       std::optional<double> userUnit = std::nullopt) {
  FixturePage page;
  page.mediaBox = media;
  page.cropBox = crop;
  page.rotate = rotate;
  page.userUnit = userUnit;
  const PdfBox v = crop.value_or(media);
  const double w = v.urx - v.llx, h = v.ury - v.lly;
  const double side = kSquareFraction * std::min(w, h);
  page.content = testing::fillRect(media.llx - 50, media.lly - 50, media.urx - media.llx + 100,
                                   media.ury - media.lly + 100, 1, 0, 1) +
                 testing::fillRect(v.llx, v.lly, w, h, 0.85, 0.85, 0.85);
  auto square = [&](double x, double y, const Colour& c) {
    page.content += testing::fillRect(x, y, side, side, c.r, c.g, c.b);
  };
  square(v.llx, v.lly, kLowerLeft);
  square(v.urx - side, v.lly, kLowerRight);
  square(v.llx, v.ury - side, kUpperLeft);
  square(v.urx - side, v.ury - side, kUpperRight);
  return page;
}

// Where a corner of the visible box (u, v ∈ {0, 1}) ends up on the upright page, in the same
// unit-square terms: /Rotate turns the page clockwise.
std::pair<double, double> uprightCorner(double u, double v, int rotate) {
  switch (((rotate % 360) + 360) % 360) {
    case 90:
      return {v, 1 - u};
    case 180:
      return {1 - u, 1 - v};
    case 270:
      return {1 - v, u};
    default:
      return {u, v};
  }
}

struct PixelBox {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive
  bool empty() const { return x1 < 0; }
};

PixelBox boxOf(const testing::DecodedImage& image, const Colour& c) {
  PixelBox box;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      auto p = image.at(x, y);
      if (std::abs(p.r - c.r * 255) < 40 && std::abs(p.g - c.g * 255) < 40 &&
          std::abs(p.b - c.b * 255) < 40) {
        box.x0 = std::min(box.x0, x);
        box.y0 = std::min(box.y0, y);
        box.x1 = std::max(box.x1, x);
        box.y1 = std::max(box.y1, y);
      }
    }
  }
  return box;
}

// The pixel box that a rectangle in paper points covers at kDpi, rows from the top.
PixelBox expectedBox(Rect r, double paperHeight) {
  const double k = kDpi / 72.0;
  PixelBox box;
  box.x0 = static_cast<int>(std::lround(r.x * k));
  box.x1 = static_cast<int>(std::lround((r.x + r.width) * k)) - 1;
  box.y0 = static_cast<int>(std::lround((paperHeight - r.y - r.height) * k));
  box.y1 = static_cast<int>(std::lround((paperHeight - r.y) * k)) - 1;
  return box;
}

void expectBoxNear(const PixelBox& actual, const PixelBox& expected, const std::string& what) {
  ASSERT_FALSE(actual.empty()) << what << " is missing";
  EXPECT_LE(std::abs(actual.x0 - expected.x0), 1) << what << " left edge";
  EXPECT_LE(std::abs(actual.x1 - expected.x1), 1) << what << " right edge";
  EXPECT_LE(std::abs(actual.y0 - expected.y0), 1) << what << " top edge";
  EXPECT_LE(std::abs(actual.y1 - expected.y1), 1) << what << " bottom edge";
}

struct GeometryCase {
  const char* name;
  FixturePage page;
};

std::vector<GeometryCase> geometryCases() {
  return {
      {"upright", cornerPage({0, 0, 300, 200}, std::nullopt, 0)},
      {"rotate 90", cornerPage({0, 0, 300, 200}, std::nullopt, 90)},
      {"rotate 180, crop inside media",
       cornerPage({0, 0, 300, 200}, PdfBox{20, 30, 220, 180}, 180)},
      {"rotate 270, UserUnit 2", cornerPage({0, 0, 150, 100}, std::nullopt, 270, 2.0)},
      {"rotate -90, negative media origin",
       cornerPage({-100, -50, 200, 150}, PdfBox{-80, -40, 120, 100}, -90)},
  };
}

class PreviewGeometry : public ::testing::Test {
 protected:
  void check(const PaperGeometry& paper, double scale, double offsetXmm, double offsetYmm) {
    std::vector<FixturePage> pages;
    for (auto& c : geometryCases()) pages.push_back(c.page);
    const std::string source = dir.write("corners.pdf", testing::makeFixturePdf(pages));
    const Artwork artwork = Artwork::load(source, std::nullopt);
    const std::string preview =
        dir.write("preview.pdf", makePreview(artwork, paper, scale, offsetXmm, offsetYmm));

    const auto cases = geometryCases();
    for (size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(cases[i].name);
      auto image = testing::renderWithPoppler(preview, int(i) + 1, kDpi);
      ASSERT_TRUE(image);
      const PagePlacement placed =
          placement(artwork.pages[i].naturalSize(), scale, paper, offsetXmm, offsetYmm);
      const Rect area = paper.imageable();
      const double side = kSquareFraction;
      const FixturePage& page = cases[i].page;
      const PdfBox v = page.cropBox.value_or(page.mediaBox);
      // The squares are side × min(w, h) in page units; as fractions of each axis of the box:
      const double w = v.urx - v.llx, h = v.ury - v.lly;
      const double fu = side * std::min(w, h) / w, fv = side * std::min(w, h) / h;
      struct Corner {
        double u, v;
        const Colour& colour;
      };
      const Corner corners[] = {{0, 0, kLowerLeft},
                                {1 - fu, 0, kLowerRight},
                                {0, 1 - fv, kUpperLeft},
                                {1 - fu, 1 - fv, kUpperRight}};
      for (const Corner& c : corners) {
        // The square's two opposite corners, turned upright, in unit-square terms.
        auto [ax, ay] = uprightCorner(c.u, c.v, page.rotate);
        auto [bx, by] = uprightCorner(c.u + fu, c.v + fv, page.rotate);
        Rect square{placed.rect.x + std::min(ax, bx) * placed.rect.width,
                    placed.rect.y + std::min(ay, by) * placed.rect.height,
                    std::fabs(bx - ax) * placed.rect.width,
                    std::fabs(by - ay) * placed.rect.height};
        Rect visible = square.intersection(area);
        PixelBox actual = boxOf(*image, c.colour);
        if (visible.isNull() || visible.width < 1 || visible.height < 1) {
          EXPECT_TRUE(actual.empty()) << c.colour.name << " should be clipped away";
          continue;
        }
        expectBoxNear(actual, expectedBox(visible, paper.height), c.colour.name);
      }
      // What lies outside the crop box never shows, beyond the rasteriser's rounding at the
      // placed rectangle's edges.
      const PixelBox edge = expectedBox(placed.rect, paper.height);
      int strayMagenta = 0;
      for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
          auto p = image->at(x, y);
          if (!(p.r > 215 && p.g < 40 && p.b > 215)) continue;
          const bool nearEdge = std::abs(x - edge.x0) <= 1 || std::abs(x - edge.x1) <= 1 ||
                                std::abs(y - edge.y0) <= 1 || std::abs(y - edge.y1) <= 1;
          if (!nearEdge) ++strayMagenta;
        }
      }
      EXPECT_EQ(strayMagenta, 0) << "content outside the crop box shows";
      // Nothing outside the printable area.
      const PixelBox inkAllowed = expectedBox(area, paper.height);
      for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
          if (x >= inkAllowed.x0 - 1 && x <= inkAllowed.x1 + 1 && y >= inkAllowed.y0 - 1 &&
              y <= inkAllowed.y1 + 1) {
            continue;
          }
          auto p = image->at(x, y);
          ASSERT_TRUE(p.r == 255 && p.g == 255 && p.b == 255)
              << "ink outside the printable area at " << x << "," << y;
        }
      }
    }
  }

  testing::TempDir dir;
};

// A4 with unequal margins.
const PaperGeometry kA4{595.2755905511812, 841.8897637795276, 18, 36, 559.27, 769.89};

TEST_F(PreviewGeometry, CornersLandWherePlacementSays) { check(kA4, 100, 0, 0); }

TEST_F(PreviewGeometry, OffsetsAndScaleMoveThePlacedPage) { check(kA4, 50, 12.5, -20); }

TEST_F(PreviewGeometry, PagesRunningIntoTheMarginsAreCutAtThePrintableArea) {
  // 300 pt wide pages at 190 % are 570 pt: on the sheet, beyond the 559 pt printable width.
  check(kA4, 190, 0, 0);
}

// Reads a written PDF back with qpdf.
struct Reopened {
  // qpdf reads from the buffer as it goes: keep a copy.
  explicit Reopened(std::string bytes) : bytes(std::move(bytes)) {
    pdf.processMemoryFile("preview", this->bytes.data(), this->bytes.size());
  }
  std::string bytes;
  std::vector<QPDFPageObjectHelper> pages() { return QPDFPageDocumentHelper(pdf).getAllPages(); }
  QPDF pdf;
};

std::vector<double> numbers(QPDFObjectHandle array) {
  std::vector<double> v;
  for (auto& item : array.getArrayAsVector()) v.push_back(item.getNumericValue());
  return v;
}

std::string streamBytes(QPDFObjectHandle stream) {
  auto data = stream.getStreamData(qpdf_dl_all);
  return {reinterpret_cast<const char*>(data->getBuffer()), data->getSize()};
}

TEST(Preview, OneVectorSheetOfPaperSizePerPageWithItsDocumentInfo) {
  testing::TempDir dir;
  FixturePage text;
  text.mediaBox = {0, 0, 400, 300};
  text.withFont = true;
  text.withAnnotation = true;
  text.content = "BT /F1 12 Tf 20 20 Td (Hello) Tj ET\n";
  std::vector<FixturePage> pages(50, text);
  const std::string path = dir.write("fifty.pdf", testing::makeFixturePdf(pages));
  const Artwork artwork = Artwork::load(path, std::nullopt);
  const std::string bytes = makePreview(artwork, kA4, 100, 0, 0);

  Reopened preview(bytes);
  auto sheets = preview.pages();
  ASSERT_EQ(sheets.size(), 50u);
  for (auto& sheet : sheets) {
    auto media = numbers(sheet.getObjectHandle().getKey("/MediaBox"));
    ASSERT_EQ(media.size(), 4u);
    EXPECT_EQ(media[0], 0);
    EXPECT_EQ(media[1], 0);
    EXPECT_NEAR(media[2], kA4.width, 1e-6);
    EXPECT_NEAR(media[3], kA4.height, 1e-6);
    EXPECT_FALSE(sheet.getObjectHandle().hasKey("/Annots"));
    EXPECT_FALSE(sheet.getObjectHandle().hasKey("/Rotate"));
    auto xobjects = sheet.getObjectHandle().getKey("/Resources").getKey("/XObject");
    ASSERT_EQ(xobjects.getKeys().size(), 1u);
    auto form = xobjects.getKey(*xobjects.getKeys().begin());
    EXPECT_EQ(form.getDict().getKey("/Subtype").getName(), "/Form");
  }
  QPDFObjectHandle info = preview.pdf.getTrailer().getKey("/Info");
  EXPECT_EQ(info.getKey("/Creator").getUTF8Value(), "KORVANEL Print");
  EXPECT_EQ(info.getKey("/Title").getUTF8Value(), "Print preview");

  int fonts = 0, images = 0;
  for (auto& object : preview.pdf.getAllObjects()) {
    QPDFObjectHandle dict = object.isStream() ? object.getDict() : object;
    if (!dict.isDictionary()) continue;
    if (dict.getKey("/Type").isNameAndEquals("/Font")) ++fonts;
    if (dict.getKey("/Subtype").isNameAndEquals("/Image")) ++images;
  }
  EXPECT_EQ(fonts, 1) << "the shared font is copied once";
  EXPECT_EQ(images, 0) << "PDF pages stay vector";

  // The same artwork gives the same bytes: deterministic identifiers.
  EXPECT_EQ(makePreview(artwork, kA4, 100, 0, 0), bytes);
}

TEST(Preview, SheetContentClipsPlacesAndDrawsTheForm) {
  testing::TempDir dir;
  FixturePage page = cornerPage({0, 0, 300, 200}, PdfBox{10, 10, 290, 190}, 0);
  page.trimBox = PdfBox{100, 100, 120, 120};  // qpdf would make this the form's /BBox
  const Artwork artwork =
      Artwork::load(dir.write("one.pdf", testing::makeFixturePdf({page})), std::nullopt);
  Reopened preview(makePreview(artwork, kA4, 100, 0, 0));
  auto sheet = preview.pages().at(0);
  auto form = sheet.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Fx1");
  EXPECT_EQ(numbers(form.getDict().getKey("/BBox")), (std::vector<double>{10, 10, 290, 190}));
  std::string content;
  for (auto& stream : sheet.getPageContents()) {
    auto data = stream.getStreamData();
    content.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  }
  const PagePlacement p = placement({280, 180}, 100, kA4, 0, 0);
  EXPECT_EQ(content, "q\n18 36 559.27 769.89 re W n\n" + pdfNumber(p.rect.x) + " " +
                         pdfNumber(p.rect.y) + " 280 180 re W n\n1 0 0 1 " +
                         pdfNumber(p.rect.x - 10) + " " + pdfNumber(p.rect.y - 10) +
                         " cm\n/Fx1 Do\nQ\n");
}

TEST(Preview, PagesRepeatingOneContentShareOneFormAndSplitContentIsKeptWhole) {
  testing::TempDir dir;
  FixturePage split;
  split.mediaBox = {0, 0, 200, 200};
  split.content = "q 1 0 0 rg ";
  split.moreContents = {"0 0 10 10 re f Q", "q 0 0 1 rg 20 20 10 10 re f Q"};
  FixturePage repeat = split;
  repeat.sameContentAs = 0;
  FixturePage smallerBox = repeat;
  smallerBox.cropBox = PdfBox{0, 0, 100, 100};  // same content, other visible box: its own form
  const Artwork artwork = Artwork::load(
      dir.write("shared.pdf", testing::makeFixturePdf({split, repeat, smallerBox})), std::nullopt);
  Reopened preview(makePreview(artwork, kA4, 100, 0, 0));
  auto pages = preview.pages();
  ASSERT_EQ(pages.size(), 3u);
  auto formOf = [](QPDFPageObjectHelper& sheet) {
    auto xobjects = sheet.getObjectHandle().getKey("/Resources").getKey("/XObject");
    return xobjects.getKey(*xobjects.getKeys().begin());
  };
  EXPECT_EQ(formOf(pages[0]).getObjGen(), formOf(pages[1]).getObjGen());
  EXPECT_NE(formOf(pages[0]).getObjGen(), formOf(pages[2]).getObjGen());
  const std::string content = streamBytes(formOf(pages[0]));
  EXPECT_NE(content.find("1 0 0 rg"), std::string::npos);
  EXPECT_NE(content.find("0 0 10 10 re f Q"), std::string::npos);
  EXPECT_NE(content.find("0 0 1 rg 20 20 10 10 re f"), std::string::npos);
  // Both parts are drawn: red and blue show.
  const std::string path = dir.write("preview.pdf", preview.bytes);
  auto image = testing::renderWithPoppler(path, 1, 72);
  ASSERT_TRUE(image);
  const PagePlacement p = placement({200, 200}, 100, kA4, 0, 0);
  auto red = image->at(int(p.rect.x + 5), int(kA4.height - p.rect.y - 5));
  auto blue = image->at(int(p.rect.x + 25), int(kA4.height - p.rect.y - 25));
  EXPECT_TRUE(red.r > 200 && red.b < 50);
  EXPECT_TRUE(blue.b > 200 && blue.r < 50);
}

TEST(Preview, PagesOfADocumentWithoutLayersAreCopiedAsTheyAreMarkersAndAll) {
  // Without /OCProperties every reader draws all of it: nothing is decided or rewritten.
  testing::TempDir dir;
  FixturePage page;
  page.mediaBox = {0, 0, 200, 200};
  page.content = "/OC /Nowhere BDC 1 0 0 rg 0 0 10 10 re f EMC";
  const Artwork artwork =
      Artwork::load(dir.write("marked.pdf", testing::makeFixturePdf({page})), std::nullopt);
  Reopened preview(makePreview(artwork, kA4, 100, 0, 0));
  auto xobjects = preview.pages().at(0).getObjectHandle().getKey("/Resources").getKey("/XObject");
  EXPECT_EQ(streamBytes(xobjects.getKey("/Fx1")), page.content);
}

TEST(Preview, ALayeredPageIsWrittenDecidedWithNothingLeftToDecide) {
  testing::TempDir dir;
  const testing::LayeredPdf layered = testing::makeLayeredPdf(500, 700);
  Artwork artwork = Artwork::load(dir.write("layered.pdf", layered.pdf), std::nullopt);
  artwork.pages.push_back(artwork.pages.front());
  Reopened preview(makePreview(artwork, kA4, 100, 0, 0));
  auto pages = preview.pages();
  ASSERT_EQ(pages.size(), 2u);
  auto formOf = [](QPDFPageObjectHelper& sheet) {
    return sheet.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Fx1");
  };
  // The page drawn twice is written once.
  EXPECT_EQ(formOf(pages[0]).getObjGen(), formOf(pages[1]).getObjGen());
  EXPECT_FALSE(preview.pdf.getRoot().hasKey("/OCProperties"));
  for (QPDFObjectHandle object : preview.pdf.getAllObjects()) {
    QPDFObjectHandle dict = object.isStream() ? object.getDict() : object;
    if (!dict.isDictionary()) continue;
    EXPECT_FALSE(dict.getKey("/Type").isNameAndEquals("/OCG")) << object.unparse();
    EXPECT_FALSE(dict.getKey("/Type").isNameAndEquals("/OCMD")) << object.unparse();
    EXPECT_FALSE(dict.hasKey("/OC")) << object.unparse();
    if (object.isStream() && !dict.getKey("/Subtype").isNameAndEquals("/Image")) {
      EXPECT_EQ(streamBytes(object).find("/OC"), std::string::npos) << streamBytes(object);
    }
  }
}

TEST(Preview, RefusesArtworkThatDoesNotFitBeforeDrawing) {
  testing::TempDir dir;
  FixturePage small;
  small.mediaBox = {0, 0, 100, 100};
  FixturePage big;
  big.mediaBox = {0, 0, 700, 100};
  const Artwork artwork =
      Artwork::load(dir.write("two.pdf", testing::makeFixturePdf({small, big})), std::nullopt);
  const char* message =
      "The artwork exceeds the paper. Choose a smaller scale or larger paper before previewing.";
  try {
    makePreview(artwork, kA4, 100, 0, 0);
    FAIL();
  } catch (const PrintFailure& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST(Preview, PngPageBecomesAnInterpolatedImageWithItsProfileAndSoftMask) {
  testing::TempDir dir;
  testing::PngOptions spec;
  spec.width = 5;
  spec.height = 3;
  spec.bitDepth = 16;
  spec.colorType = 6;
  spec.pixelsPerMeterX = testing::pixelsPerMeter(72);
  const Artwork artwork = Artwork::load(dir.write("a.png", testing::makePng(spec)), std::nullopt);
  Reopened preview(makePreview(artwork, kA4, 1000.0 / 10, 0, 0));
  auto sheet = preview.pages().at(0);
  auto image = sheet.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im1");
  ASSERT_TRUE(image.isStream());
  QPDFObjectHandle dict = image.getDict();
  EXPECT_EQ(dict.getKey("/Width").getIntValue(), 5);
  EXPECT_EQ(dict.getKey("/Height").getIntValue(), 3);
  EXPECT_EQ(dict.getKey("/BitsPerComponent").getIntValue(), 16);
  EXPECT_TRUE(dict.getKey("/Interpolate").getBoolValue());
  QPDFObjectHandle space = dict.getKey("/ColorSpace");
  ASSERT_TRUE(space.isArray());
  EXPECT_EQ(space.getArrayItem(0).getName(), "/ICCBased");
  EXPECT_EQ(space.getArrayItem(1).getDict().getKey("/N").getIntValue(), 3);
  EXPECT_EQ(artwork.pages[0].png()->colorSpace.icc.size(),
            streamBytes(space.getArrayItem(1)).size());

  // Samples are written most significant byte first; alpha goes to the soft mask.
  const std::string rgb = streamBytes(image);
  const std::string alpha = streamBytes(dict.getKey("/SMask"));
  ASSERT_EQ(rgb.size(), 5u * 3 * 3 * 2);
  ASSERT_EQ(alpha.size(), 5u * 3 * 2);
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 5; ++x) {
      for (int c = 0; c < 3; ++c) {
        const size_t at = ((y * 5 + x) * 3 + c) * 2;
        EXPECT_EQ(static_cast<unsigned char>(rgb[at]), testing::pngSample(x, y, c));
        EXPECT_EQ(static_cast<unsigned char>(rgb[at + 1]), testing::pngSample(x, y, c));
      }
      EXPECT_EQ(static_cast<unsigned char>(alpha[(y * 5 + x) * 2]), testing::pngSample(x, y, 3));
    }
  }
  EXPECT_EQ(dict.getKey("/SMask").getDict().getKey("/ColorSpace").getName(), "/DeviceGray");

  // Drawn into the placed rectangle, clipped only to the printable area.
  const PagePlacement p = placement(artwork.pages[0].naturalSize(), 100, kA4, 0, 0);
  std::string content;
  for (auto& stream : sheet.getPageContents()) content += streamBytes(stream);
  EXPECT_EQ(content, "q\n18 36 559.27 769.89 re W n\n" + pdfNumber(p.rect.width, 10) + " 0 0 " +
                         pdfNumber(p.rect.height, 10) + " " + pdfNumber(p.rect.x) + " " +
                         pdfNumber(p.rect.y) + " cm\n/Im1 Do\nQ\n");
}

// The image data of a PNG file: its IDAT chunks' contents, concatenated.
std::string imageDataOf(const std::string& png) {
  std::string data;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = uint32_t(uint8_t(png[at])) << 24 |
                            uint32_t(uint8_t(png[at + 1])) << 16 |
                            uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
    if (png.compare(at + 4, 4, "IDAT") == 0) data += png.substr(at + 8, length);
    at += 12 + length;
  }
  return data;
}

TEST(Preview, PngSamplesAPdfCanTakeAsTheyAreKeepTheirCompressedData) {
  struct Case {
    const char* name;
    int colorType;
    int bitDepth;
    bool interlaced;
    bool passesThrough;
  };
  for (const Case& c :
       {Case{"rgb", 2, 8, false, true}, Case{"grey16", 0, 16, false, true},
        Case{"interlaced", 2, 8, true, false}, Case{"palette", 3, 8, false, false}}) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    testing::PngOptions spec;
    spec.width = 37;
    spec.height = 23;
    spec.colorType = c.colorType;
    spec.bitDepth = c.bitDepth;
    spec.interlaced = c.interlaced;
    spec.pixelsPerMeterX = testing::pixelsPerMeter(72);
    // Several IDAT chunks: all of them must be joined.
    const std::string file = testing::splitImageData(testing::makePng(spec), 100);
    const Artwork artwork = Artwork::load(dir.write("a.png", file), std::nullopt);
    Reopened preview(makePreview(artwork, kA4, 100, 0, 0));
    auto image = preview.pages()
                     .at(0)
                     .getObjectHandle()
                     .getKey("/Resources")
                     .getKey("/XObject")
                     .getKey("/Im1");
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle parameters = dict.getKey("/DecodeParms");
    auto raw = image.getRawStreamData();
    const std::string stored(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    const int colors = c.colorType == 0 ? 1 : 3;
    if (c.passesThrough) {
      EXPECT_EQ(stored, imageDataOf(file));
      EXPECT_EQ(dict.getKey("/Filter").getName(), "/FlateDecode");
      EXPECT_EQ(parameters.getKey("/Predictor").getIntValue(), 15);
      EXPECT_EQ(parameters.getKey("/Colors").getIntValue(), colors);
      EXPECT_EQ(parameters.getKey("/BitsPerComponent").getIntValue(), c.bitDepth);
      EXPECT_EQ(parameters.getKey("/Columns").getIntValue(), 37);
    } else {
      EXPECT_NE(stored, imageDataOf(file));
      EXPECT_FALSE(parameters.isDictionary() && parameters.hasKey("/Predictor"));
    }
    // Either way a reader gets the samples, most significant byte first.
    const std::string samples = streamBytes(image);
    const size_t bytes = c.bitDepth / 8;
    ASSERT_EQ(samples.size(), 37u * 23 * colors * bytes);
    const auto palette = testing::pngPalette();
    for (uint32_t y = 0; y < 23; ++y) {
      for (uint32_t x = 0; x < 37; ++x) {
        for (int k = 0; k < colors; ++k) {
          const unsigned expected =
              c.colorType == 3 ? palette[(x + y) % 4 * 3 + k] : testing::pngSample(x, y, k);
          ASSERT_EQ(uint8_t(samples[((y * 37 + x) * colors + k) * bytes]), expected);
        }
      }
    }
  }
}

TEST(Preview, APngDamagedSinceLoadingIsRefusedRatherThanCopied) {
  testing::TempDir dir;
  testing::PngOptions spec;
  spec.width = 20;
  spec.height = 10;
  spec.pixelsPerMeterX = testing::pixelsPerMeter(72);
  std::string file = testing::makePng(spec);
  const std::string path = dir.write("a.png", file);
  const Artwork artwork = Artwork::load(path, std::nullopt);
  // One byte of the compressed samples changed: only the chunk's CRC tells.
  const size_t idat = file.find("IDAT");
  file[idat + 10] = char(file[idat + 10] ^ 0x40);
  dir.write("a.png", file);
  try {
    makePreview(artwork, kA4, 100, 0, 0);
    ADD_FAILURE() << "a damaged file was copied";
  } catch (const PrintFailure& failure) {
    EXPECT_EQ(std::string(failure.message()), kPngUnreadable);
  }
  // So is a file that was replaced by another image.
  spec.width = 21;
  dir.write("a.png", testing::makePng(spec));
  EXPECT_THROW(makePreview(artwork, kA4, 100, 0, 0), PrintFailure);
}

TEST(PdfNumber, FixedNotationWithoutTrailingZeros) {
  EXPECT_EQ(pdfNumber(0), "0");
  EXPECT_EQ(pdfNumber(-0.0000001), "0");
  EXPECT_EQ(pdfNumber(12.5), "12.5");
  EXPECT_EQ(pdfNumber(1e-7, 10), "0.0000001");
  EXPECT_EQ(pdfNumber(1e20), "100000000000000000000");
  EXPECT_EQ(pdfNumber(-3.1234567), "-3.123457");
}

}  // namespace
}  // namespace vardelle::artwork
