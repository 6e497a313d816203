#include "printing/settings/color_vocabulary.h"

#include <gtest/gtest.h>

#include "printing/settings/print_summary.h"

namespace vardelle::printing {
namespace {

// The ColorModel choices of the PPDs Debian's drivers ship or CUPS makes, as the PPDs spell them.
TEST(ColorVocabulary, KnowsTheGreyAndColourChoicesOfDebiansDrivers) {
  const char* grey[] = {
      "Gray",      "Black",   "Grayscale",   // Gutenprint, CUPS' sample drivers
      "KGray",     "CMYGray", "Mono",        // HPLIP
      "FastGray",  "Gray16",  "DeviceGray",  // CUPS' PPDs for IPP Everywhere printers
      "grayscale",                           // cups-filters' PDF printer PPDs
  };
  const char* colour[] = {"RGB", "CMY", "CMYK", "KCMY", "AdobeRGB", "DeviceRGB", "color", "rgb"};
  for (const char* word : grey) EXPECT_EQ(colorModelMode(word), kMonochrome) << word;
  for (const char* word : colour) EXPECT_EQ(colorModelMode(word), kColor) << word;
  for (const char* word : {"", "Auto", "DeviceN", "Highlight", "K Gray"}) {
    EXPECT_FALSE(colorModelMode(word)) << word;
  }
  EXPECT_EQ(printColorModeMode("auto-monochrome"), kMonochrome);
  EXPECT_FALSE(printColorModeMode("auto"));
  EXPECT_FALSE(printColorModeMode("KGray"));
}

// HPLIP calls its black-ink grey mode "KGray": a preset saved with it is black and white, so an
// RGB printer profile is refused for it before anything is printed in grey.
TEST(ColorVocabulary, AKGrayPresetIsBlackAndWhite) {
  PrintSettings settings("hp");
  ASSERT_TRUE(settings.setOption(PrintSettings::kColorModel, "KGray"));
  EXPECT_EQ(printSummary(settings, {595, 842}, std::nullopt).colorMode, "monochrome");
}

}  // namespace
}  // namespace vardelle::printing
