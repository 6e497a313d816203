#include "printing/settings/print_settings.h"

#include <gtest/gtest.h>

namespace vardelle::printing {
namespace {

PrintSettings sample() {
  PrintSettings settings("Studio_R2400");
  EXPECT_TRUE(settings.setOption("media", "iso_a4_210x297mm"));
  settings.setOrientation(Orientation::landscape);
  EXPECT_TRUE(settings.setOption("copies", "3"));
  EXPECT_TRUE(settings.setOption("ColorModel", "Gray"));
  EXPECT_TRUE(settings.setOption("PMCustomProfilePath", "/Users/ana/Profils ICC/Épreuve 1.icc"));
  return settings;
}

TEST(PrintSettings, ArchiveRoundTripKeepsPrinterOptionsAndTheirOrder) {
  PrintSettings settings = sample();
  auto restored = PrintSettings::restore(settings.archive());
  ASSERT_TRUE(restored);
  EXPECT_EQ(*restored, settings);
  ASSERT_EQ(restored->options().size(), 5u);
  EXPECT_EQ(restored->options()[1].name, "orientation-requested");
  EXPECT_EQ(restored->orientation(), Orientation::landscape);
  EXPECT_EQ(restored->copies(), 3);
  EXPECT_EQ(restored->option("pmcustomprofilepath"), "/Users/ana/Profils ICC/Épreuve 1.icc");
  // The same object archives to the same bytes: a saved preset does not churn.
  EXPECT_EQ(restored->archive(), settings.archive());
}

TEST(PrintSettings, DamagedEmptyAndForeignArchivesDoNotRestore) {
  std::string good = sample().archive();
  EXPECT_FALSE(PrintSettings::restore(""));
  EXPECT_FALSE(PrintSettings::restore(good.substr(0, good.size() / 2)));
  EXPECT_FALSE(PrintSettings::restore(good + "x"));
  std::string flipped = good;
  flipped[good.find("options") + 2] = '\xFF';  // no longer UTF-8 inside a key
  EXPECT_FALSE(PrintSettings::restore(flipped));
  // A binary property list, the other platform's keyed archive.
  EXPECT_FALSE(PrintSettings::restore(std::string("bplist00\xD4\x01\x02\x03", 12)));
  EXPECT_FALSE(PrintSettings::restore("null"));
  EXPECT_FALSE(PrintSettings::restore("[]"));
  EXPECT_FALSE(PrintSettings::restore(R"({"version":1,"printer":"p","options":[]})"));
}

TEST(PrintSettings, OnlyTheIntegerVersionOneRestores) {
  auto with = [](const std::string& version) {
    return R"({"format":"vardelle.print-settings","version":)" + version +
           R"(,"printer":"p","options":[]})";
  };
  EXPECT_TRUE(PrintSettings::restore(with("1")));
  EXPECT_FALSE(PrintSettings::restore(with("2")));
  EXPECT_FALSE(PrintSettings::restore(with("0")));
  EXPECT_FALSE(PrintSettings::restore(with("1.0")));
  EXPECT_FALSE(PrintSettings::restore(with("\"1\"")));
}

TEST(PrintSettings, ArchivesWithEntriesTheStoreRefusesDoNotRestore) {
  auto withOptions = [](const std::string& options) {
    return R"({"format":"vardelle.print-settings","version":1,"printer":"p","options":)" + options +
           "}";
  };
  EXPECT_TRUE(
      PrintSettings::restore(withOptions(R"([{"name":"media","value":"na_letter_8.5x11in"}])")));
  EXPECT_FALSE(PrintSettings::restore(withOptions(R"([{"name":"bad name","value":"x"}])")));
  EXPECT_FALSE(PrintSettings::restore(withOptions(R"([{"name":"copies","value":2}])")));
  EXPECT_FALSE(PrintSettings::restore(withOptions(R"([{"name":"nul","value":"a\u0000b"}])")));
  EXPECT_FALSE(PrintSettings::restore(withOptions(R"([["media","iso_a4_210x297mm"]])")));
  // The same option twice (CUPS names ignore case) would lose one of the values.
  EXPECT_FALSE(PrintSettings::restore(
      withOptions(R"([{"name":"Copies","value":"1"},{"name":"copies","value":"2"}])")));
}

TEST(PrintSettings, StoreComparesNamesLikeCupsAndKeepsPlaces) {
  PrintSettings settings("p");
  ASSERT_TRUE(settings.setOption("ColorModel", "RGB"));
  ASSERT_TRUE(settings.setOption("media", "iso_a4_210x297mm"));
  ASSERT_TRUE(settings.setOption("colormodel", "Gray"));
  ASSERT_EQ(settings.options().size(), 2u);
  EXPECT_EQ(settings.options()[0], (PrintOption{"ColorModel", "Gray"}));
  settings.removeOption("COLORMODEL");
  EXPECT_EQ(settings.options().size(), 1u);
  EXPECT_FALSE(settings.option("ColorModel"));
}

TEST(PrintSettings, StoreRefusesWhatCannotReachCupsOrTheArchive) {
  PrintSettings settings("p");
  EXPECT_FALSE(settings.setOption("", "x"));
  EXPECT_FALSE(settings.setOption("two words", "x"));
  EXPECT_FALSE(settings.setOption("a=b", "x"));
  EXPECT_FALSE(settings.setOption(std::string(256, 'n'), "x"));
  EXPECT_FALSE(settings.setOption("v", std::string("a\0b", 3)));
  EXPECT_FALSE(settings.setOption("v", "\xC0\xAF"));      // overlong "/"
  EXPECT_FALSE(settings.setOption("v", "\xED\xA0\x80"));  // a surrogate
  EXPECT_FALSE(settings.setOption("v", std::string(32768, 'x')));
  EXPECT_TRUE(settings.options().empty());
  EXPECT_TRUE(settings.setOption("v", std::string(32767, 'x')));
  EXPECT_TRUE(settings.setOption("w", "日本語 ✓ 𝄞"));
}

TEST(PrintSettings, OrientationAndCopiesReadOnlyWhatTheyUnderstand) {
  PrintSettings settings("p");
  EXPECT_EQ(settings.orientation(), Orientation::portrait);
  EXPECT_FALSE(settings.copies());
  for (const char* odd : {"7", "landscape", " 4", ""}) {
    ASSERT_TRUE(settings.setOption("orientation-requested", odd));
    EXPECT_FALSE(settings.orientation()) << odd;
  }
  ASSERT_TRUE(settings.setOption("orientation-requested", "5"));
  EXPECT_EQ(settings.orientation(), Orientation::reverseLandscape);
  for (const char* odd : {"0", "-1", "2.5", "1e2", "99999", " 2"}) {
    ASSERT_TRUE(settings.setOption("copies", odd));
    EXPECT_FALSE(settings.copies()) << odd;
  }
  ASSERT_TRUE(settings.setOption("copies", "0099"));
  EXPECT_EQ(settings.copies(), 99);
}

}  // namespace
}  // namespace vardelle::printing
