#include "artwork/placement.h"

#include "artwork/named_sheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/print_failure.h"
#include "testing/failure.h"

namespace vardelle::artwork {
namespace {

const char* kInvalidPaper =
    "The preset has invalid paper or printable-area dimensions. Save Printer Settings again.";
const char* kInvalidScale = "The document contains invalid physical dimensions or scale.";
const char* kInvalidOffset = "Invalid printer offset.";

// A4 with the whole sheet printable, and A4 with 18 pt margins on every side.
const PaperGeometry kBorderless{595.28, 841.89, 0, 0, 595.28, 841.89};
const PaperGeometry kMargins{595.28, 841.89, 18, 18, 559.28, 805.89};

std::string failureOf(Size size, double scale, const PaperGeometry& paper, double dx, double dy) {
  return testing::failureOf([&] { placement(size, scale, paper, dx, dy); });
}

TEST(Placement, CentresThePageOnTheWholeSheet) {
  // Margins are unequal, so centring on the printable area would give a different origin.
  const PaperGeometry lopsided{600, 800, 10, 50, 580, 700};
  const PagePlacement p = placement({200, 100}, 100, lopsided, 0, 0);
  EXPECT_EQ(p.rect.x, 200);
  EXPECT_EQ(p.rect.y, 350);
  EXPECT_EQ(p.rect.width, 200);
  EXPECT_EQ(p.rect.height, 100);
  EXPECT_TRUE(p.fitsPaper);
  EXPECT_FALSE(p.requiresClipping);
}

TEST(Placement, ScalesBeforeCentringMultiplyingFirst) {
  const PagePlacement p = placement({595.28, 841.89}, 50, kBorderless, 0, 0);
  EXPECT_EQ(p.rect.width, 595.28 * 50 / 100);
  EXPECT_EQ(p.rect.height, 841.89 * 50 / 100);
  EXPECT_EQ(p.rect.x, (595.28 - 595.28 * 50 / 100) * 0.5);
}

TEST(Placement, OffsetsMoveRightAndDown) {
  const PagePlacement centred = placement({595.28, 841.89}, 100, kMargins, 0, 0);
  const PagePlacement right = placement({595.28, 841.89}, 100, kMargins, 10, 0);
  EXPECT_EQ(right.rect.x, 10 * 72 / 25.4 + (595.28 - 595.28) * 0.5);
  EXPECT_NEAR(right.rect.x - centred.rect.x, 28.3465, 1e-4);
  EXPECT_EQ(right.rect.y, centred.rect.y);

  // A positive y offset lowers the rectangle: towards the bottom edge of the sheet.
  const PagePlacement down = placement({100, 100}, 100, kMargins, 0, 5);
  const PagePlacement up = placement({100, 100}, 100, kMargins, 0, -5);
  EXPECT_EQ(down.rect.y, (841.89 - 100) * 0.5 - 5 * 72 / 25.4);
  EXPECT_LT(down.rect.y, up.rect.y);
  EXPECT_EQ(down.rect.x, up.rect.x);
}

TEST(Placement, OffsetLimitsAreInclusive) {
  for (double d : {-50.0, 50.0}) {
    EXPECT_NO_THROW(placement({100, 100}, 100, kMargins, d, 0));
    EXPECT_NO_THROW(placement({100, 100}, 100, kMargins, 0, d));
  }
  const double beyond[] = {50.0001, -50.0001, std::nan(""),
                           std::numeric_limits<double>::infinity()};
  for (double d : beyond) {
    EXPECT_EQ(failureOf({100, 100}, 100, kMargins, d, 0), kInvalidOffset);
    EXPECT_EQ(failureOf({100, 100}, 100, kMargins, 0, d), kInvalidOffset);
  }
}

TEST(Placement, ScaleLimitsAreInclusive) {
  EXPECT_NO_THROW(placement({100, 100}, 10, kMargins, 0, 0));
  EXPECT_NO_THROW(placement({100, 100}, 200, kMargins, 0, 0));
  for (double s : {9.999, 200.001, std::nan(""), 0.0, -100.0}) {
    EXPECT_EQ(failureOf({100, 100}, s, kMargins, 0, 0), kInvalidScale) << s;
  }
  for (Size bad : {Size{0, 10}, Size{10, -1}, Size{std::nan(""), 10},
                   Size{10, std::numeric_limits<double>::infinity()}}) {
    EXPECT_EQ(failureOf(bad, 100, kMargins, 0, 0), kInvalidScale);
  }
}

TEST(Placement, ScaledSizeMustStayFinite) {
  EXPECT_EQ(failureOf({1e308, 10}, 200, kMargins, 0, 0), "The scaled page has invalid dimensions.");
  EXPECT_EQ(failureOf({10, 5e-324}, 10, kMargins, 0, 0), "The scaled page has invalid dimensions.");
}

TEST(Placement, ChecksInTheFixedOrder) {
  const PaperGeometry badPaper{0, 0, 0, 0, 0, 0};
  // Paper first, then the scale, then the offset.
  EXPECT_EQ(failureOf({0, 0}, 5, badPaper, 99, 99), kInvalidPaper);
  EXPECT_EQ(failureOf({0, 0}, 100, kMargins, 99, 99), kInvalidScale);
  EXPECT_EQ(failureOf({100, 100}, 5, kMargins, 99, 99), kInvalidScale);
  EXPECT_EQ(failureOf({1e308, 1}, 200, kMargins, 99, 99),
            "The scaled page has invalid dimensions.");
}

TEST(Placement, SheetSizedPageOnBorderlessPaperFitsWithoutClipping) {
  const PagePlacement p = placement({595.28, 841.89}, 100, kBorderless, 0, 0);
  EXPECT_EQ(p.rect.x, 0);
  EXPECT_EQ(p.rect.y, 0);
  EXPECT_TRUE(p.fitsPaper);
  EXPECT_FALSE(p.requiresClipping);
}

TEST(Placement, PaperToleranceIsTwoHundredthsOfAPoint) {
  const PagePlacement within = placement({595.28 + 0.01, 841.89}, 100, kBorderless, 0, 0);
  EXPECT_TRUE(within.fitsPaper);
  EXPECT_FALSE(within.requiresClipping);
  const PagePlacement beyond = placement({595.28 + 0.03, 841.89}, 100, kBorderless, 0, 0);
  EXPECT_FALSE(beyond.fitsPaper);
  // Centred, it crosses each edge by only 0.015 pt: too large, yet not clipped.
  EXPECT_FALSE(beyond.requiresClipping);
  EXPECT_FALSE(placement({595.28, 841.89 + 0.03}, 100, kBorderless, 0, 0).fitsPaper);
}

TEST(Placement, MarginToleranceIsTwoHundredthsOfAPoint) {
  // Printable area 18..577.28 horizontally: a page 559.28 + 0.03 wide crosses it by 0.015 on each
  // side (inside the tolerance); one 0.05 wider crosses by 0.025 (outside).
  EXPECT_FALSE(placement({559.28 + 0.03, 100}, 100, kMargins, 0, 0).requiresClipping);
  EXPECT_TRUE(placement({559.28 + 0.05, 100}, 100, kMargins, 0, 0).requiresClipping);
}

TEST(Placement, FittingPageCrossingTheMarginsNeedsClipping) {
  const PagePlacement p = placement({595.28, 841.89}, 100, kMargins, 0, 0);
  EXPECT_TRUE(p.fitsPaper);
  EXPECT_TRUE(p.requiresClipping);
}

TEST(Placement, FitDependsOnSizeAloneNotOnTheOffset) {
  const PagePlacement shifted = placement({500, 500}, 100, kBorderless, 50, 50);
  EXPECT_TRUE(shifted.fitsPaper);
  EXPECT_TRUE(shifted.requiresClipping);
}

// A4 as a PPD writes it, 595 × 842 pt, and as CUPS keeps that: 20990 × 29704 hundredths of a mm.
constexpr double kRoundedA4Width = 20990 * 72.0 / 2540;
constexpr double kRoundedA4Height = 29704 * 72.0 / 2540;
const Size kTrueA4{210 * 72 / 25.4, 297 * 72 / 25.4};

TEST(NamedSheet, AWholePointSheetStandsForTheMetricSheetItRounds) {
  const auto a4 = namedSheetSize({kRoundedA4Width, kRoundedA4Height});
  ASSERT_TRUE(a4);
  EXPECT_DOUBLE_EQ(a4->width, kTrueA4.width);
  EXPECT_DOUBLE_EQ(a4->height, kTrueA4.height);
  const auto landscape = namedSheetSize({842, 595});
  ASSERT_TRUE(landscape);
  EXPECT_DOUBLE_EQ(landscape->width, kTrueA4.height);
  // 10 × 15 cm, written 283 × 425.
  EXPECT_TRUE(namedSheetSize({283, 425}));
  // Inch sheets are whole points already; other sizes are their own.
  EXPECT_FALSE(namedSheetSize({288, 432}));
  EXPECT_FALSE(namedSheetSize({612, 792}));
  EXPECT_FALSE(namedSheetSize({596, 842}));
  EXPECT_FALSE(namedSheetSize({600, 800}));
}

TEST(Placement, APageOfTheTrueSheetFitsTheSheetADriverRoundedToWholePoints) {
  const PaperGeometry borderless{kRoundedA4Width, kRoundedA4Height, 0, 0,
                                 kRoundedA4Width, kRoundedA4Height};
  const PagePlacement p = placement(kTrueA4, 100, borderless, 0, 0);
  EXPECT_TRUE(p.fitsPaper);
  EXPECT_FALSE(p.requiresClipping);
  // Still centred on the driver's page, at exact size: the fraction beyond it is not printed.
  EXPECT_DOUBLE_EQ(p.rect.x, (kRoundedA4Width - kTrueA4.width) * 0.5);
  EXPECT_DOUBLE_EQ(p.rect.width, kTrueA4.width);

  // Landscape, and with margins (fits, but clipped by the margins as any page would be).
  const PaperGeometry landscape{kRoundedA4Height, kRoundedA4Width, 0, 0,
                                kRoundedA4Height, kRoundedA4Width};
  EXPECT_FALSE(placement({kTrueA4.height, kTrueA4.width}, 100, landscape, 0, 0).requiresClipping);
  const PaperGeometry margins{kRoundedA4Width, kRoundedA4Height, 8.5, 8.5, 578, 825};
  const PagePlacement bordered = placement(kTrueA4, 100, margins, 0, 0);
  EXPECT_TRUE(bordered.fitsPaper);
  EXPECT_TRUE(bordered.requiresClipping);

  // Beyond the true sheet the usual 0.02 pt holds, and an offset still needs clipping.
  EXPECT_FALSE(placement({kTrueA4.width + 0.03, kTrueA4.height}, 100, borderless, 0, 0).fitsPaper);
  EXPECT_TRUE(placement({kTrueA4.width + 0.01, kTrueA4.height}, 100, borderless, 0, 0).fitsPaper);
  EXPECT_TRUE(placement(kTrueA4, 100, borderless, 0.1, 0).requiresClipping);
  // A sheet that stands for no named one gets no more than its own size.
  const PaperGeometry custom{600, 800, 0, 0, 600, 800};
  EXPECT_FALSE(placement({600.03, 800}, 100, custom, 0, 0).fitsPaper);
}

}  // namespace
}  // namespace vardelle::artwork
