#include "artwork/pdf_transform.h"

#include <gtest/gtest.h>

namespace vardelle::artwork {
namespace {

void expectPoint(Point actual, double x, double y) {
  EXPECT_NEAR(actual.x, x, 1e-9);
  EXPECT_NEAR(actual.y, y, 1e-9);
}

TEST(PdfTransform, Rotate90TurnsTheUpperLeftCornerToTheUpperRight) {
  PdfPageFrame page{{0, 0, 612, 792}, {0, 0, 612, 792}, 90};
  const Rect target{0, 0, 792, 612};
  AffineTransform m = pdfTransform(page, target);
  expectPoint(m.apply(0, 792), 792, 612);  // upper left → upper right
  expectPoint(m.apply(0, 0), 0, 612);      // lower left → upper left
  expectPoint(m.apply(612, 0), 0, 0);
  expectPoint(m.apply(612, 792), 792, 0);
}

TEST(PdfTransform, EveryRotationMapsTheVisibleBoxOntoTheTarget) {
  // An off-origin box on a larger media box, and a target elsewhere with unequal scales.
  const Rect crop{10, 20, 100, 50};
  const Rect target{300, 400, 40, 70};
  struct Case {
    int rotate;
    Point lowerLeftOfUpright;  // the box corner that must land on the target's lower left
    Point upperRightOfUpright;
  };
  const Case cases[] = {
      {0, {10, 20}, {110, 70}},   {90, {110, 20}, {10, 70}},   {180, {110, 70}, {10, 20}},
      {270, {10, 70}, {110, 20}}, {-90, {10, 70}, {110, 20}},  {-270, {110, 20}, {10, 70}},
      {450, {110, 20}, {10, 70}}, {-720, {10, 20}, {110, 70}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotate);
    AffineTransform m = pdfTransform({crop, {0, 0, 500, 500}, c.rotate}, target);
    expectPoint(m.apply(c.lowerLeftOfUpright.x, c.lowerLeftOfUpright.y), 300, 400);
    expectPoint(m.apply(c.upperRightOfUpright.x, c.upperRightOfUpright.y), 340, 470);
  }
}

TEST(PdfTransform, UsesTheCropBoxClippedToTheMediaBox) {
  // The crop box reaches beyond the media box on two sides, and the media box has a negative
  // origin: only their overlap (-50, -40)…(100, 60) counts.
  PdfPageFrame page{{-80, -40, 180, 200}, {-50, -60, 300, 120}, 0};
  const Rect box = visibleBox(page);
  EXPECT_DOUBLE_EQ(box.x, -50);
  EXPECT_DOUBLE_EQ(box.y, -40);
  EXPECT_DOUBLE_EQ(box.width, 150);
  EXPECT_DOUBLE_EQ(box.height, 100);
  AffineTransform m = pdfTransform(page, {0, 0, 300, 100});
  EXPECT_DOUBLE_EQ(m.a, 2);
  EXPECT_DOUBLE_EQ(m.d, 1);
  expectPoint(m.apply(-50, -40), 0, 0);
  expectPoint(m.apply(100, 60), 300, 100);
}

TEST(PdfTransform, NormalizedRotationKeepsTheSignBeforeAdding360) {
  EXPECT_EQ(normalizedRotation(0), 0);
  EXPECT_EQ(normalizedRotation(-90), 270);
  EXPECT_EQ(normalizedRotation(-360), 0);
  EXPECT_EQ(normalizedRotation(810), 90);
  EXPECT_EQ(normalizedRotation(-45), 315);
}

}  // namespace
}  // namespace vardelle::artwork
