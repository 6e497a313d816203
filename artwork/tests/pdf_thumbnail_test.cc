// Poppler draws the thumbnail of a PDF page; it must show the same sheet that Ghostscript renders
// for the same request: the same placement, clip and printable area, and white outside.
#include <gtest/gtest.h>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "artwork/preview.h"
#include "testing/pdf_maker.h"
#include "testing/raster_probe.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using Image = testing::DecodedImage;
using Pixel = Image::Pixel;
using Colour = std::array<int, 3>;

constexpr Colour kField{30, 110, 200};  // the whole page
constexpr Colour kBlock{220, 60, 20};   // its top-left corner: shows a turn or a flip

int distance(const Pixel& p, const Colour& c) {
  return std::abs(p.r - c[0]) + std::abs(p.g - c[1]) + std::abs(p.b - c[2]);
}

/// The smallest rectangle of pixels (left, top, right, bottom, inclusive) where `match` holds.
struct Bounds {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  bool empty() const { return right < 0; }
};

Bounds boundsOf(const Image& image, const std::function<bool(const Pixel&)>& match) {
  Bounds b;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!match(image.at(x, y))) continue;
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
    }
  }
  return b;
}

void expectWithinOnePixel(const Bounds& drawn, const Bounds& reference, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(reference.empty());
  ASSERT_FALSE(drawn.empty());
  EXPECT_LE(std::abs(drawn.left - reference.left), 1);
  EXPECT_LE(std::abs(drawn.right - reference.right), 1);
  EXPECT_LE(std::abs(drawn.top - reference.top), 1);
  EXPECT_LE(std::abs(drawn.bottom - reference.bottom), 1);
}

/// How much ink each row (or column) holds.
std::vector<double> inkProfile(const Image& image, bool rows) {
  std::vector<double> profile(rows ? image.height : image.width, 0);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Pixel p = image.at(x, y);
      profile[rows ? y : x] += 765 - (p.r + p.g + p.b);
    }
  }
  return profile;
}

/// The shift of `drawn` against `reference`, within ±4 pixels, that matches them best.
int bestShift(const std::vector<double>& drawn, const std::vector<double>& reference) {
  int best = 0;
  double bestDifference = -1;
  for (int shift = -4; shift <= 4; ++shift) {
    double difference = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
      const long j = long(i) + shift;
      const double other = j >= 0 && j < long(drawn.size()) ? drawn[j] : 0;
      difference += std::abs(other - reference[i]);
    }
    if (bestDifference < 0 || difference < bestDifference) {
      bestDifference = difference;
      best = shift;
    }
  }
  return best;
}

/// Every pixel that lies wholly outside the printable area is pure, opaque white.
void expectWhiteOutsidePrintableArea(const Image& image, const PaperGeometry& paper) {
  const double s = thumbnailSize(paper).pixelsPerPoint;
  const Rect area = paper.imageable();
  // Bitmap rows count from the top; the paper sits at the bitmap's lower-left corner.
  const double left = area.x * s, right = (area.x + area.width) * s;
  const double top = image.height - (area.y + area.height) * s;
  const double bottom = image.height - area.y * s;
  int checked = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const bool outside = x + 1 <= left || x >= right || y + 1 <= top || y >= bottom;
      if (!outside) continue;
      const Pixel p = image.at(x, y);
      ASSERT_TRUE(p.r == 255 && p.g == 255 && p.b == 255 && p.a == 255)
          << "pixel " << x << ", " << y << " outside the printable area is not white";
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

/// Both renderings of one request, decoded.
struct Pair {
  Image drawn;      // makeThumbnail: poppler
  Image reference;  // makeSheetThumbnail: Ghostscript
};

Pair render(const Artwork& artwork, const PaperGeometry& paper, double scalePercent,
            double offsetXmm, double offsetYmm) {
  auto drawn =
      testing::decodePng(makeThumbnail(artwork, paper, scalePercent, offsetXmm, offsetYmm));
  auto reference =
      testing::decodePng(makeSheetThumbnail(artwork, paper, scalePercent, offsetXmm, offsetYmm));
  EXPECT_TRUE(drawn && reference);
  if (!drawn || !reference) return {};
  EXPECT_EQ(drawn->width, reference->width);
  EXPECT_EQ(drawn->height, reference->height);
  EXPECT_EQ(drawn->colorType, 6);
  EXPECT_TRUE(drawn->hasSrgbChunk);
  EXPECT_EQ(drawn->pixelsPerMetreX, reference->pixelsPerMetreX);
  return {std::move(*drawn), std::move(*reference)};
}

void expectSameSheet(const Pair& pair, const PaperGeometry& paper) {
  ASSERT_EQ(pair.drawn.width, pair.reference.width);
  ASSERT_EQ(pair.drawn.height, pair.reference.height);
  auto ink = [](const Pixel& p) { return std::min({p.r, p.g, p.b}) < 160; };
  expectWithinOnePixel(boundsOf(pair.drawn, ink), boundsOf(pair.reference, ink), "ink");
  EXPECT_EQ(bestShift(inkProfile(pair.drawn, true), inkProfile(pair.reference, true)), 0)
      << "rows of ink moved";
  EXPECT_EQ(bestShift(inkProfile(pair.drawn, false), inkProfile(pair.reference, false)), 0)
      << "columns of ink moved";
  expectWhiteOutsidePrintableArea(pair.drawn, paper);
}

struct Case {
  const char* name;
  testing::FixturePage page;
  PaperGeometry paper;
  double scalePercent;
  double offsetXmm;
  double offsetYmm;
};

/// A page filled with the field, its top-left corner (as the page's own content sees it) marked
/// with the block; `box` is its visible box.
testing::FixturePage markedPage(testing::PdfBox box, int rotate = 0) {
  testing::FixturePage page;
  page.mediaBox = box;
  page.rotate = rotate;
  const double w = box.urx - box.llx, h = box.ury - box.lly;
  page.content = testing::fillRect(box.llx, box.lly, w, h, kField[0] / 255.0, kField[1] / 255.0,
                                   kField[2] / 255.0) +
                 testing::fillRect(box.llx, box.ury - h / 3, w / 3, h / 3, kBlock[0] / 255.0,
                                   kBlock[1] / 255.0, kBlock[2] / 255.0);
  return page;
}

TEST(PdfThumbnail, PopplerDrawsTheSheetGhostscriptDraws) {
  const PaperGeometry a4{595.2755905511812, 841.8897637795276, 18, 18, 559.28, 805.89};
  std::vector<Case> cases = {
      {"upright and offset on A4", markedPage({0, 0, 300, 200}), a4, 100, 12.5, -20},
      {"turned 90 and offset",
       markedPage({0, 0, 144, 96}, 90),
       {300, 400, 10, 10, 280, 380},
       150,
       8,
       -5},
      {"turned -90, enlarged and cut by wide margins",
       markedPage({0, 0, 200, 150}, -90),
       {400, 300, 60, 45, 280, 210},
       140,
       5,
       -4},
  };
  Case cropped{"turned 180, crop box inside the media box",
               markedPage({0, 0, 400, 300}, 180),
               {792, 612, 18, 18, 756, 576},
               100,
               -10,
               6};
  cropped.page.cropBox = testing::PdfBox{50, 40, 350, 260};
  cases.push_back(cropped);
  Case large{"UserUnit 2.5", markedPage({0, 0, 100, 80}), a4, 100, -10, 15};
  large.page.userUnit = 2.5;
  cases.push_back(large);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const Artwork artwork =
        Artwork::load(dir.write("page.pdf", testing::makeFixturePdf({c.page})), std::nullopt);
    const Pair pair = render(artwork, c.paper, c.scalePercent, c.offsetXmm, c.offsetYmm);
    expectSameSheet(pair, c.paper);
    auto block = [](const Pixel& p) { return distance(p, kBlock) < 60; };
    expectWithinOnePixel(boundsOf(pair.drawn, block), boundsOf(pair.reference, block), "block");
    auto field = [](const Pixel& p) { return distance(p, kField) < 60; };
    expectWithinOnePixel(boundsOf(pair.drawn, field), boundsOf(pair.reference, field), "field");
    // Plain device colours come out as they are.
    const Bounds inner = boundsOf(pair.reference, field);
    EXPECT_LT(distance(pair.drawn.at((inner.left + inner.right) / 2, inner.bottom - 2), kField), 6);
  }
}

/// Page `number` (1-based) of the PDF at `path`, alone in a PDF of its own.
std::string onePage(const std::string& path, int number) {
  QPDF source;
  source.processFile(path.c_str());
  QPDF out;
  out.emptyPDF();
  QPDFPageDocumentHelper(out).addPage(
      QPDFPageDocumentHelper(source).getAllPages().at(size_t(number - 1)), false);
  QPDFWriter writer(out);
  writer.setOutputMemory();
  writer.setStaticID(true);
  writer.write();
  auto buffer = writer.getBufferSharedPointer();
  return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

TEST(PdfThumbnail, RealDocumentsComeOutAsGhostscriptDrawsThem) {
  // CUPS' test page (cups-filters) and a page of a manual typeset by TeX (libtasn1-doc).
  struct Document {
    const char* path;
    const char* package;
    int page;
    PaperGeometry paper;
    double scalePercent;
  };
  const Document documents[] = {
      {"/usr/share/cups/data/default-testpage.pdf",
       "cups-filters",
       1,
       {595.2755905511812, 841.8897637795276, 12, 12, 571.28, 817.89},
       100},
      {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
       "libtasn1-doc",
       5,
       {612, 792, 18, 18, 576, 756},
       90},
  };
  for (const Document& d : documents) {
    SCOPED_TRACE(d.path);
    ASSERT_TRUE(std::filesystem::exists(d.path))
        << d.path << " comes with the Debian package " << d.package << " (scripts/setup --tests)";
    testing::TempDir dir;
    const Artwork artwork =
        Artwork::load(dir.write("page.pdf", onePage(d.path, d.page)), std::nullopt);
    expectSameSheet(render(artwork, d.paper, d.scalePercent, 3, -2), d.paper);
  }
}

}  // namespace
}  // namespace vardelle::artwork
