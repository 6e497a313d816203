#include "printing/cups/paper_measurement.h"

#include <gtest/gtest.h>

namespace vardelle::printing {
namespace {

double pt(int hundredths) { return hundredths * 72.0 / 2540.0; }

// A4 with margins left 3, bottom 5, right 4, top 6 mm: every side is different, so a side
// mixed up in a turn shows.
constexpr int kW = 21000, kL = 29700, kLeft = 300, kBottom = 500, kRight = 400, kTop = 600;

TEST(OrientedGeometry, PortraitConvertsHundredthsMultiplyingFirst) {
  auto g = orientedGeometry(kW, kL, kLeft, kBottom, kRight, kTop, Orientation::portrait);
  EXPECT_EQ(g.width, 21000 * 72.0 / 2540.0);
  EXPECT_EQ(g.height, 29700 * 72.0 / 2540.0);
  EXPECT_EQ(g.imageableX, pt(kLeft));
  EXPECT_EQ(g.imageableY, pt(kBottom));
  EXPECT_EQ(g.imageableWidth, pt(kW - kLeft - kRight));
  EXPECT_EQ(g.imageableHeight, pt(kL - kBottom - kTop));
}

TEST(OrientedGeometry, LandscapeTurnsTheSheetAndThePrintableAreaClockwise) {
  auto g = orientedGeometry(kW, kL, kLeft, kBottom, kRight, kTop, Orientation::landscape);
  EXPECT_EQ(g.width, pt(kL));
  EXPECT_EQ(g.height, pt(kW));
  EXPECT_EQ(g.imageableX, pt(kTop));
  EXPECT_EQ(g.imageableY, pt(kLeft));
  EXPECT_EQ(g.imageableWidth, pt(kL - kBottom - kTop));
  EXPECT_EQ(g.imageableHeight, pt(kW - kLeft - kRight));
  // The far margins are the remaining portrait ones: bottom on the right, right on top.
  EXPECT_NEAR(g.width - g.imageableX - g.imageableWidth, pt(kBottom), 1e-9);
  EXPECT_NEAR(g.height - g.imageableY - g.imageableHeight, pt(kRight), 1e-9);
}

TEST(OrientedGeometry, ReverseOrientationsTurnTheOtherWay) {
  auto g = orientedGeometry(kW, kL, kLeft, kBottom, kRight, kTop, Orientation::reverseLandscape);
  EXPECT_EQ(g.imageableX, pt(kBottom));
  EXPECT_EQ(g.imageableY, pt(kRight));
  EXPECT_EQ(g.width, pt(kL));
  auto r = orientedGeometry(kW, kL, kLeft, kBottom, kRight, kTop, Orientation::reversePortrait);
  EXPECT_EQ(r.imageableX, pt(kRight));
  EXPECT_EQ(r.imageableY, pt(kTop));
  EXPECT_EQ(r.width, pt(kW));
}

TEST(NamedMediaSize, KnowsPwgLegacyAndCustomNamesAndNothingElse) {
  auto a4 = namedMediaSize("iso_a4_210x297mm");
  ASSERT_TRUE(a4);
  EXPECT_EQ(a4->widthHundredths, 21000);
  EXPECT_EQ(a4->lengthHundredths, 29700);
  auto letter = namedMediaSize("Letter");
  ASSERT_TRUE(letter);
  EXPECT_EQ(letter->widthHundredths, 21590);
  auto custom = namedMediaSize("custom_poster_300x400mm");
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->lengthHundredths, 40000);
  EXPECT_FALSE(namedMediaSize("photo-paper-deluxe"));
  EXPECT_FALSE(namedMediaSize(""));
}

}  // namespace
}  // namespace vardelle::printing
