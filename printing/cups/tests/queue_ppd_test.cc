#include "printing/cups/queue_ppd.h"

#include <gtest/gtest.h>

#include "base/print_failure.h"
#include "testing/ppd_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

TEST(QueuePpd, SizesAreFoundByTheirExactOwnNameWithTheirText) {
  testing::TempDir dir;
  QueuePpd ppd = testing::openPpd(dir, testing::driverPpd(testing::kShrinkAndCrop, ""));
  auto kg = ppd.pageSize("w288h432J");
  ASSERT_TRUE(kg);
  EXPECT_EQ(kg->text, "KG");
  EXPECT_EQ(ppd.pageSize("w288h432")->text, "4x6");
  auto a4 = ppd.pageSize("A4");
  ASSERT_TRUE(a4);
  EXPECT_EQ(a4->widthPt, 595);
  EXPECT_EQ(a4->lengthPt, 842);
  EXPECT_EQ(a4->leftPt, 12);
  EXPECT_EQ(a4->topPt, 830);
  // libcups itself would answer "a4" with A4; a saved name is the PPD's own spelling.
  EXPECT_FALSE(ppd.pageSize("a4"));
  EXPECT_FALSE(ppd.pageSize("Letter"));
  EXPECT_FALSE(ppd.pageSize("Custom.300x400")) << "this PPD takes no custom sizes";
  EXPECT_EQ(ppd.pageSizes().size(), 3u);
}

TEST(QueuePpd, LandscapeTurnIsThePpdsOrLibcupsDefault) {
  testing::TempDir dir;
  EXPECT_EQ(testing::openPpd(
                dir, testing::driverPpd(testing::kShrinkAndCrop, "*LandscapeOrientation: Plus90\n"))
                .landscapeDegrees(),
            90);
  EXPECT_EQ(testing::openPpd(dir, testing::driverPpd(testing::kShrinkAndCrop,
                                                     "*LandscapeOrientation: Minus90\n"))
                .landscapeDegrees(),
            -90);
  EXPECT_EQ(
      testing::openPpd(dir, testing::driverPpd(testing::kShrinkAndCrop, "")).landscapeDegrees(),
      -90);
}

}  // namespace
}  // namespace vardelle::printing
