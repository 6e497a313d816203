#include "printing/settings/print_summary.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;

TEST(KnownColorMode, KeysIgnoreCaseAndValuesArePaddedOrCapitalised) {
  EXPECT_EQ(knownColorMode(json{{"COLORMODEL", "  Gray \n"}}), "monochrome");
  EXPECT_EQ(knownColorMode(json{{"ColorModel", "\u00A0CMYK\t"}}), "color");
  EXPECT_EQ(knownColorMode(json{{"Print-Color-Mode", "Process-Bi-Level"}}), "monochrome");
  EXPECT_EQ(knownColorMode(json{{"print-color-mode", "color"}, {"ColorModel", "RGB"}}), "color");
  EXPECT_EQ(knownColorMode(json{{"print-color-mode", "monochrome"}, {"colormodel", "black"}}),
            "monochrome");
}

TEST(KnownColorMode, DisagreementOrAnUnknownValueGivesNoMode) {
  EXPECT_FALSE(knownColorMode(json{{"ColorModel", "RGB"}, {"print-color-mode", "monochrome"}}));
  // "auto" is not in the vocabulary: it ends the scan although "rgb" alone means colour.
  EXPECT_EQ(knownColorMode(json{{"ColorModel", "rgb"}}), "color");
  EXPECT_FALSE(knownColorMode(json{{"ColorModel", "rgb"}, {"print-color-mode", "auto"}}));
  // Each key knows only its own words.
  EXPECT_FALSE(knownColorMode(json{{"print-color-mode", "colour"}}));
  EXPECT_FALSE(knownColorMode(json{{"print-color-mode", "gray"}}));
  EXPECT_FALSE(knownColorMode(json{{"ColorModel", "bi-level"}}));
  EXPECT_FALSE(knownColorMode(json{{"ColorModel", ""}}));
}

TEST(KnownColorMode, NonStringValuesAndOtherKeysAreIgnored) {
  EXPECT_FALSE(knownColorMode(json{{"ColorModel", 1}}));
  EXPECT_FALSE(knownColorMode(json::object()));
  EXPECT_EQ(knownColorMode(json{{"ColorModel", 3}, {"print-color-mode", "monochrome"}}),
            "monochrome");
  EXPECT_EQ(
      knownColorMode(json{{"OutputMode", "weird"}, {"ColorModelX", "x"}, {"ColorModel", "Gray"}}),
      "monochrome");
  EXPECT_FALSE(knownColorMode(json::array()));
}

TEST(PrintSummary, MillimetresAreUnroundedPointConversions) {
  PrintSettings settings("Studio");
  PrintSummary summary = printSummary(settings, {595, 842}, std::nullopt);
  EXPECT_DOUBLE_EQ(summary.paperWidthMm, 595 * 25.4 / 72);
  EXPECT_DOUBLE_EQ(summary.paperHeightMm, 842 * 25.4 / 72);
  EXPECT_NEAR(summary.paperWidthMm, 209.9027777, 1e-6);
  EXPECT_NEAR(summary.paperHeightMm, 297.0388888, 1e-6);
  EXPECT_EQ(summary.paperName, "Custom paper");
  EXPECT_EQ(summary.orientation, "portrait");
  EXPECT_EQ(summary.copies, 1);
  EXPECT_EQ(summary.printerName, "Studio");
  EXPECT_FALSE(summary.colorMode);
}

TEST(PrintSummary, NamesOrientationCopiesAndColourComeFromTheSettings) {
  PrintSettings settings("Studio");
  ASSERT_TRUE(settings.setOption("media", "iso_a4_210x297mm"));
  ASSERT_TRUE(settings.setOption("copies", "12"));
  ASSERT_TRUE(settings.setOption("ColorModel", "Gray"));
  settings.setOrientation(Orientation::reverseLandscape);
  PrintSummary summary = printSummary(settings, {842, 595}, std::nullopt);
  EXPECT_EQ(summary.paperName, "iso_a4_210x297mm");
  EXPECT_EQ(summary.orientation, "landscape");
  EXPECT_EQ(summary.copies, 12);
  EXPECT_EQ(summary.colorMode, "monochrome");
  EXPECT_EQ(printSummary(settings, {842, 595}, "A4").paperName, "A4");
  ASSERT_TRUE(settings.setOption("copies", "many"));
  EXPECT_EQ(printSummary(settings, {842, 595}, std::nullopt).copies, 1);
}

TEST(DeterministicLayout, WritesEveryEntryInOrderAndDropsPageRanges) {
  PrintSettings settings("p");
  ASSERT_TRUE(settings.setOption("number-up", "4"));
  ASSERT_TRUE(settings.setOption("page-ranges", "2-3"));
  ASSERT_TRUE(settings.setOption("media", "iso_a4_210x297mm"));
  configureDeterministicLayout(settings);
  const std::vector<PrintOption> expected = {
      {"number-up", "1"},          {"media", "iso_a4_210x297mm"}, {"page-border", "none"},
      {"job-sheets", "none,none"}, {"print-scaling", "none"},     {"fit-to-page", "false"},
      {"page-set", "all"},         {"outputorder", "normal"},     {"mirror", "false"},
  };
  EXPECT_EQ(settings.options(), expected);
  // Already in that state: the same entries again, nothing added.
  configureDeterministicLayout(settings);
  EXPECT_EQ(settings.options(), expected);
}

}  // namespace
}  // namespace vardelle::printing
