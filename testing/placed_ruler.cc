#include "testing/placed_ruler.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "testing/pdf_maker.h"

namespace vardelle::testing {
namespace {

constexpr double kSquare = 4 * 72 / 25.4;  // 4 mm

struct Point {
  double x = 0, y = 0;  // points, paper coordinates of the sheet as printed (y up)
};

// Lower-left corners in the artwork's own points.
std::vector<Point> rulerSquares(double width, double height, double m) {
  return {{m, m},
          {width - m - kSquare, m},
          {m, height - m - kSquare},
          {width - m - kSquare, height - m - kSquare},
          {width * 0.5, height * 0.4}};
}

// The darkness-weighted centre of the square near `expected`.
std::optional<Point> squareCentre(const DecodedImage& image, int dpi, Point expected,
                                  bool landscape) {
  const double pt = 72.0 / dpi, window = 6 * 72 / 25.4;
  double sum = 0, sx = 0, sy = 0;
  for (int j = 0; j < image.height; ++j) {
    for (int i = 0; i < image.width; ++i) {
      const double right = (i + 0.5) * pt, down = (j + 0.5) * pt;
      const Point p = landscape ? Point{down, right} : Point{right, image.height * pt - down};
      if (std::fabs(p.x - expected.x) > window || std::fabs(p.y - expected.y) > window) continue;
      auto px = image.at(i, j);
      const double dark = 255.0 - (px.r + px.g + px.b) / 3.0;
      if (dark < 8) continue;
      sum += dark, sx += dark * p.x, sy += dark * p.y;
    }
  }
  if (sum <= 0) return std::nullopt;
  return Point{sx / sum, sy / sum};
}

}  // namespace

std::string placedRulerContent(double widthPt, double heightPt, double insetPt) {
  std::string content;
  for (const Point& corner : rulerSquares(widthPt, heightPt, insetPt)) {
    content += fillRect(corner.x, corner.y, kSquare, kSquare, 0, 0, 0);
  }
  return content;
}

std::string placedRulerPdf(double widthPt, double heightPt, double insetPt) {
  FixturePage page;
  page.mediaBox = {0, 0, widthPt, heightPt};
  page.content = placedRulerContent(widthPt, heightPt, insetPt);
  return makeFixturePdf({page});
}

RulerLanding measurePlacedRuler(const DecodedImage& page, int dpi,
                                const artwork::PagePlacement& placed, double widthPt,
                                double heightPt, bool landscape, double insetPt) {
  RulerLanding landing;
  std::vector<Point> expected, measured;
  double worst = 0;
  for (const Point& corner : rulerSquares(widthPt, heightPt, insetPt)) {
    const Point e{placed.rect.x + corner.x + kSquare / 2, placed.rect.y + corner.y + kSquare / 2};
    std::optional<Point> m = squareCentre(page, dpi, e, landscape);
    if (!m) {
      landing.missing = "no square near " + std::to_string(e.x) + ", " + std::to_string(e.y);
      return landing;
    }
    worst = std::max({worst, std::fabs(m->x - e.x), std::fabs(m->y - e.y)});
    expected.push_back(e);
    measured.push_back(*m);
  }
  const auto distance = [](Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); };
  landing.worstErrorMm = artwork::millimeters(worst);
  landing.scale = distance(measured[0], measured[3]) / distance(expected[0], expected[3]);
  return landing;
}

}  // namespace vardelle::testing
