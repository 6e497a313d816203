#include "printing/queue_ppd.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/print_failure.h"
#include "printing/submission.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

// A driver PPD cut down to what the paper and the exact-size options read: two same-size
// sizes, one with margins, a custom-size range and Gutenprint's shrink option.
std::string drivePpd(const std::string& shrinkChoices, const std::string& landscape) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*ModelName: \"Test\"\n*NickName: \"Test\"\n" +
         landscape +
         "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: A4\n"
         "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
         "*PageSize w288h432/4x6: \"<</PageSize[288 432]>>setpagedevice\"\n"
         "*PageSize w288h432J/KG: \"<</PageSize[288 432]>>setpagedevice\"\n"
         "*CloseUI: *PageSize\n"
         "*ImageableArea A4/A4: \"12 18 583 830\"\n"
         "*ImageableArea w288h432/4x6: \"0 0 288 432\"\n"
         "*ImageableArea w288h432J/KG: \"0 0 288 432\"\n"
         "*PaperDimension A4/A4: \"595 842\"\n"
         "*PaperDimension w288h432/4x6: \"288 432\"\n"
         "*PaperDimension w288h432J/KG: \"288 432\"\n"
         "*OpenUI *StpiShrinkOutput/Shrink Page If Necessary to Fit Borders: PickOne\n"
         "*DefaultStpiShrinkOutput: Shrink\n" +
         shrinkChoices + "*CloseUI: *StpiShrinkOutput\n";
}

QueuePpd open(testing::TempDir& dir, const std::string& text) {
  auto ppd = QueuePpd::fromFile(dir.write("test.ppd", text));
  if (!ppd) throw std::runtime_error("the test PPD did not parse");
  return std::move(*ppd);
}

const std::string kBoth =
    "*StpiShrinkOutput Shrink/Shrink: \"\"\n*StpiShrinkOutput Crop/Crop: \"\"\n";

TEST(QueuePpd, SizesAreFoundByTheirExactOwnNameWithTheirText) {
  testing::TempDir dir;
  QueuePpd ppd = open(dir, drivePpd(kBoth, ""));
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
  EXPECT_EQ(open(dir, drivePpd(kBoth, "*LandscapeOrientation: Plus90\n")).landscapeDegrees(), 90);
  EXPECT_EQ(open(dir, drivePpd(kBoth, "*LandscapeOrientation: Minus90\n")).landscapeDegrees(), -90);
  EXPECT_EQ(open(dir, drivePpd(kBoth, "")).landscapeDegrees(), -90);
}

TEST(QueuePpd, DriverOverridesAndThePaperEntryGoOnlyToAQueueWithThatPpd) {
  testing::TempDir dir;
  QueuePpd ppd = open(dir, drivePpd(kBoth, ""));
  PrintSettings settings("q");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "w288h432J"));
  ASSERT_TRUE(settings.setOption("StpiShrinkOutput", "Shrink"));
  auto has = [](const std::vector<PrintOption>& options, const PrintOption& wanted) {
    return std::count(options.begin(), options.end(), wanted) == 1;
  };
  auto withPpd = jobOptions(settings, "na_index-4x6_4x6in", &ppd);
  EXPECT_TRUE(has(withPpd, {"PageSize", "w288h432J"}));
  EXPECT_TRUE(has(withPpd, {"StpiShrinkOutput", "Crop"}));
  EXPECT_FALSE(has(withPpd, {"StpiShrinkOutput", "Shrink"}));
  auto withoutPpd = jobOptions(settings, "na_index-4x6_4x6in");
  for (const PrintOption& option : withoutPpd) {
    EXPECT_NE(option.name, "PageSize");
    EXPECT_NE(option.name, "StpiShrinkOutput");
  }
  EXPECT_TRUE(has(withoutPpd, {"media", "na_index-4x6_4x6in"}));

  EXPECT_NO_THROW(requireExactSizeChoices(ppd));
  QueuePpd shrinkOnly = open(dir, drivePpd("*StpiShrinkOutput Shrink/Shrink: \"\"\n", ""));
  EXPECT_THROW(requireExactSizeChoices(shrinkOnly), PrintFailure);
}

}  // namespace
}  // namespace vardelle::printing
