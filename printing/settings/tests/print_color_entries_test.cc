#include "printing/settings/print_color_entries.h"

#include <gtest/gtest.h>

#include "base/print_failure.h"
#include "testing/failure.h"

namespace vardelle::printing {
namespace {

using testing::failureOf;

ColorManagement applicationColor(std::string path) {
  ColorManagement color = ColorManagement::printer();
  color.mode = "application";
  color.profileId = "icc-" + std::string(64, 'a');
  color.profilePath = std::move(path);
  color.renderingIntent = "perceptual";
  color.driverColorManagementDisabled = true;
  return color;
}

TEST(ApplicationColor, PrinterModeLeavesTheSettingsUntouchedAndPassesAnything) {
  PrintSettings settings("p");
  ASSERT_TRUE(settings.setOption("AP_ColorMatchingMode", "Something else"));
  PrintSettings before = settings;
  configureApplicationColor(settings, ColorManagement::printer());
  EXPECT_EQ(settings, before);
  EXPECT_NO_THROW(verifyApplicationColor(settings, ColorManagement::printer()));
  EXPECT_TRUE(applicationColorJobOptions(settings).empty());
}

TEST(ApplicationColor, MissingDriverAcknowledgmentFailsBeforeAnythingIsWritten) {
  PrintSettings settings("p");
  ColorManagement color = applicationColor("/profiles/paper.icc");
  color.driverColorManagementDisabled = false;
  EXPECT_EQ(failureOf([&] { configureApplicationColor(settings, color); }),
            "Disable printer-driver color correction in this preset's Printer settings, then "
            "acknowledge it before application-managed printing.");
  EXPECT_TRUE(settings.options().empty());
}

TEST(ApplicationColor, InvalidColourSettingsFailWithTheirOwnMessage) {
  PrintSettings settings("p");
  ColorManagement color = applicationColor("relative/paper.icc");
  std::string expected = failureOf([&] { color.validate(); });
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(failureOf([&] { configureApplicationColor(settings, color); }), expected);
  EXPECT_TRUE(settings.options().empty());
}

TEST(ApplicationColor, BothEntriesReadBackExactlyAndSurviveTheArchive) {
  PrintSettings settings("p");
  ColorManagement color = applicationColor("/Users/zoë/Library/ColorSync/Papier mat ½.icc");
  configureApplicationColor(settings, color);
  const std::vector<PrintOption> expected = {
      {"AP_ColorMatchingMode", "AP_ApplicationColorMatching"},
      {"PMCustomProfilePath", "/Users/zoë/Library/ColorSync/Papier mat ½.icc"}};
  EXPECT_EQ(settings.options(), expected);
  auto restored = PrintSettings::restore(settings.archive());
  ASSERT_TRUE(restored);
  EXPECT_NO_THROW(verifyApplicationColor(*restored, color));
  EXPECT_EQ(applicationColorJobOptions(*restored),
            (std::vector<PrintOption>{{"cm-calibration", "true"}}));
}

TEST(ApplicationColor, ReadBackFailsWhenAnEntryIsMissingOrDifferent) {
  const std::string notRetained =
      "macOS did not retain the requested application-managed color settings. Nothing was "
      "submitted.";
  ColorManagement color = applicationColor("/profiles/paper.icc");
  PrintSettings configured("p");
  configureApplicationColor(configured, color);

  PrintSettings withoutProfile = configured;
  withoutProfile.removeOption("PMCustomProfilePath");
  EXPECT_EQ(failureOf([&] { verifyApplicationColor(withoutProfile, color); }), notRetained);

  PrintSettings normalised = configured;
  ASSERT_TRUE(normalised.setOption("PMCustomProfilePath", "/profiles/./paper.icc"));
  EXPECT_EQ(failureOf([&] { verifyApplicationColor(normalised, color); }), notRetained);

  PrintSettings otherMode = configured;
  ASSERT_TRUE(otherMode.setOption("AP_ColorMatchingMode", "AP_VendorColorMatching"));
  EXPECT_EQ(failureOf([&] { verifyApplicationColor(otherMode, color); }), notRetained);
  EXPECT_EQ(failureOf([&] { verifyApplicationColor(PrintSettings("p"), color); }), notRetained);
}

}  // namespace
}  // namespace vardelle::printing
