#include "artwork/paper_geometry.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

#include "base/print_failure.h"
#include "testing/failure.h"

namespace vardelle::artwork {
namespace {

const char* kInvalidPaper =
    "The preset has invalid paper or printable-area dimensions. Save Printer Settings again.";

// A4 with 18 pt margins on every side.
const PaperGeometry kMargins{595.28, 841.89, 18, 18, 559.28, 805.89};

TEST(PaperGeometry, AcceptsAPrintableAreaOverlappingTheSheet) {
  EXPECT_NO_THROW(kMargins.validate());
  const PaperGeometry negativeOrigin{100, 100, -10, -20, 50, 50};
  EXPECT_NO_THROW(negativeOrigin.validate());
  const Rect area = negativeOrigin.imageable();
  EXPECT_EQ(area.x, 0);
  EXPECT_EQ(area.y, 0);
  EXPECT_EQ(area.width, 40);
  EXPECT_EQ(area.height, 30);
}

TEST(PaperGeometry, RefusesUnusableGeometry) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const PaperGeometry bad[] = {
      {0, 100, 0, 0, 10, 10},
      {100, -1, 0, 0, 10, 10},
      {inf, 100, 0, 0, 10, 10},
      {100, 100, nan, 0, 10, 10},
      {100, 100, 0, inf, 10, 10},
      {100, 100, 0, 0, 0, 10},
      {100, 100, 0, 0, 10, 0},
      {100, 100, 0, 0, 10, -5},
      {100, 100, 0, 0, 10, nan},
      // Every number is fine, but the printable area lies beside the sheet.
      {100, 100, 150, 0, 10, 10},
      {100, 100, 0, -30, 10, 10},
      // Touching the sheet's edge only leaves nothing printable.
      {100, 100, 100, 0, 10, 10},
  };
  for (const auto& paper : bad) {
    try {
      paper.validate();
      ADD_FAILURE() << "accepted " << paper.toJson().dump();
    } catch (const PrintFailure& e) {
      EXPECT_STREQ(e.what(), kInvalidPaper);
    }
  }
}

TEST(PaperGeometry, MakeTakesAbsoluteImageableSizes) {
  const PaperGeometry g = PaperGeometry::make({200, 300}, {10, 20, -50, -60});
  EXPECT_EQ(g.imageableX, 10);
  EXPECT_EQ(g.imageableY, 20);
  EXPECT_EQ(g.imageableWidth, 50);
  EXPECT_EQ(g.imageableHeight, 60);
}

}  // namespace
}  // namespace vardelle::artwork
