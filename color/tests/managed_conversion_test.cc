#include "color/managed_conversion.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdint>
#include <random>
#include <vector>

#include "base/print_failure.h"
#include "color/lcms.h"
#include "color/output_profile.h"
#include "color/png_source_color.h"
#include "testing/icc_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

ColorManagement applicationSettings(const std::string& path, const std::string& id,
                                    const std::string& intent = "perceptual", bool bpc = true) {
  ColorManagement settings;
  settings.mode = "application";
  settings.profilePath = path;
  settings.profileId = id;
  settings.renderingIntent = intent;
  settings.blackPointCompensation = bpc;
  settings.driverColorManagementDisabled = true;
  return settings;
}

struct Fixture {
  vardelle::testing::TempDir dir;
  std::string bytes = vardelle::testing::makeLutRgbPrinterProfile("Bench Printer", 17, true);
  std::string path = dir.write("printer.icc", bytes);
};

std::vector<std::uint16_t> noise(std::size_t words, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(0, 65535);
  std::vector<std::uint16_t> out(words);
  for (auto& w : out) w = static_cast<std::uint16_t>(value(random));
  return out;
}

/// lcms2's own transform of the same pixels with the same flags, one thread.
std::vector<std::uint16_t> reference(cmsHPROFILE source, cmsUInt32Number inFormat,
                                     const std::string& printer, cmsUInt32Number intent, bool bpc,
                                     const std::vector<std::uint16_t>& in, std::size_t pixels) {
  Profile out(cmsOpenProfileFromMem(printer.data(), cmsUInt32Number(printer.size())));
  cmsUInt32Number flags = cmsFLAGS_HIGHRESPRECALC | (bpc ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0);
  Transform t(cmsCreateTransform(source, inFormat, out.get(), TYPE_RGB_16, intent, flags));
  EXPECT_TRUE(t);
  std::vector<std::uint16_t> result(pixels * 3, 65535);
  cmsDoTransform(t.get(), in.data(), result.data(), cmsUInt32Number(pixels));
  return result;
}

TEST(ManagedConversion, WorkingSpacePixelsMatchTheEnginesOwnTransformOnAnyNumberOfThreads) {
  Fixture f;
  for (bool bpc : {true, false}) {
    for (const char* intent : {"perceptual", "relativeColorimetric"}) {
      SCOPED_TRACE(std::string(intent) + (bpc ? " bpc" : ""));
      auto conversion =
          ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes), intent, bpc));
      conversion.prepareWorkingSpace();
      PageTransform transform = conversion.transformFromWorkingSpace();
      ASSERT_EQ(transform.sourceComponents(), 4);

      const std::uint32_t width = 301, rows = 97;
      std::vector<std::uint16_t> in = noise(std::size_t(width) * rows * 4, 7);
      std::vector<std::uint16_t> threaded(std::size_t(width) * rows * 3),
          single(std::size_t(width) * rows * 3);
      transform.convert(in.data(), width * 4, threaded.data(), width * 3, width, rows);
      transform.convertOnThisThread(in.data(), width * 4, single.data(), width * 3, width, rows);
      EXPECT_EQ(threaded, single);

      // The reference reads the very working profile the conversion used (its header carries
      // the time it was made).
      Profile working(cmsOpenProfileFromMem(conversion.workingIcc().data(),
                                            cmsUInt32Number(conversion.workingIcc().size())));
      ASSERT_TRUE(working);
      EXPECT_EQ(profileDescription(working.get()), "ROMM RGB");
      auto expected = reference(working.get(), TYPE_RGBA_16, f.bytes, engineIntent(intent), bpc, in,
                                std::size_t(width) * rows);
      EXPECT_EQ(threaded, expected);

      // Rows wider than the engine is handed at once.
      const std::uint32_t wide = 9001;
      std::vector<std::uint16_t> wideIn = noise(std::size_t(wide) * 3 * 4, 11);
      std::vector<std::uint16_t> wideOut(std::size_t(wide) * 3 * 3);
      transform.convert(wideIn.data(), wide * 4, wideOut.data(), wide * 3, wide, 3);
      EXPECT_EQ(wideOut, reference(working.get(), TYPE_RGBA_16, f.bytes, engineIntent(intent), bpc,
                                   wideIn, std::size_t(wide) * 3));
    }
  }
}

TEST(ManagedConversion, RepeatedColoursConvertExactlyAsTheEngineConvertsThem) {
  // A photograph repeats its colours, and converted values are remembered between bands: the
  // remembered ones must be the engine's to the last bit, whatever collides in the memory and
  // whether a band repeats or not.
  Fixture f;
  auto conversion = ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes)));
  conversion.prepareWorkingSpace();
  PageTransform transform = conversion.transformFromWorkingSpace();
  Profile working(cmsOpenProfileFromMem(conversion.workingIcc().data(),
                                        cmsUInt32Number(conversion.workingIcc().size())));
  const std::vector<std::uint16_t> palette = noise(40'000 * 3, 5);
  const std::uint32_t width = 1500, rows = 240;
  std::mt19937 pick(9);
  auto band = [&](bool repeating) {
    std::vector<std::uint16_t> in = noise(std::size_t(width) * rows * 4, pick());
    if (repeating) {
      for (std::size_t p = 0; p < std::size_t(width) * rows; ++p) {
        const std::size_t c = pick() % (palette.size() / 3);
        std::copy_n(palette.begin() + std::ptrdiff_t(c * 3), 3, in.begin() + std::ptrdiff_t(p * 4));
      }
    }
    return in;
  };
  for (bool repeating : {true, true, false, true}) {
    const std::vector<std::uint16_t> in = band(repeating);
    std::vector<std::uint16_t> out(std::size_t(width) * rows * 3);
    transform.convert(in.data(), width * 4, out.data(), width * 3, width, rows);
    EXPECT_EQ(out, reference(working.get(), TYPE_RGBA_16, f.bytes, INTENT_PERCEPTUAL, true, in,
                             std::size_t(width) * rows));
  }
}

TEST(ManagedConversion, GreyAndTaggedRgbSourcesConvertFromTheirOwnProfiles) {
  Fixture f;
  auto conversion = ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes)));
  conversion.prepareWorkingSpace();

  SourceColorSpace gray = grayGamma22();
  PageTransform fromGray = conversion.transformFrom(gray);
  ASSERT_EQ(fromGray.sourceComponents(), 1);
  const std::uint32_t width = 64, rows = 40;
  std::vector<std::uint16_t> grayIn = noise(std::size_t(width) * rows, 3);
  std::vector<std::uint16_t> out(std::size_t(width) * rows * 3);
  fromGray.convert(grayIn.data(), width, out.data(), width * 3, width, rows);
  Profile grayProfile(cmsOpenProfileFromMem(gray.icc.data(), cmsUInt32Number(gray.icc.size())));
  EXPECT_EQ(out, reference(grayProfile.get(), TYPE_GRAY_16, f.bytes, INTENT_PERCEPTUAL, true,
                           grayIn, grayIn.size()));

  // An indexed space converts from its RGB base.
  SourceColorSpace indexed = standardSRGB();
  indexed.model = ColorModel::indexed;
  EXPECT_EQ(conversion.transformFrom(indexed).sourceComponents(), 4);
}

TEST(ManagedConversion, RefusesSourcesItCannotReadAsTheirOwnKindOfColour) {
  Fixture f;
  auto conversion = ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes)));
  conversion.prepareWorkingSpace();
  auto refused = [&](const SourceColorSpace& space) -> std::string {
    try {
      conversion.transformFrom(space);
      return std::string("accepted");
    } catch (const PrintFailure& failure) {
      return failure.message();
    }
  };
  SourceColorSpace cmyk = standardSRGB();
  const std::string cmykBytes = vardelle::testing::makeCmykPrinterProfile();
  cmyk.icc.assign(cmykBytes.begin(), cmykBytes.end());
  EXPECT_EQ(refused(cmyk), kUnsupportedPngSource);

  SourceColorSpace rgbAsGray = standardSRGB();
  rgbAsGray.model = rgbAsGray.baseModel = ColorModel::gray;
  EXPECT_EQ(refused(rgbAsGray), kUnsupportedPngSource);

  SourceColorSpace garbage = standardSRGB();
  garbage.icc.assign(200, 0x41);
  EXPECT_EQ(refused(garbage), kUnsupportedPngSource);

  SourceColorSpace link = standardSRGB();
  const std::string linkBytes = vardelle::testing::makeRgbDeviceLink();
  link.icc.assign(linkBytes.begin(), linkBytes.end());
  EXPECT_EQ(refused(link), kUnsupportedPngSource);

  SourceColorSpace untaggedGray = grayGamma22();
  untaggedGray.icc.clear();
  EXPECT_EQ(refused(untaggedGray), kUnsupportedPngSource);
}

TEST(ManagedConversion, OpeningChecksTheProfileAgainstTheRequest) {
  Fixture f;
  try {
    ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes + " ")));
    ADD_FAILURE() << "a changed profile was accepted";
  } catch (const PrintFailure& failure) {
    EXPECT_EQ(std::string(failure.message()),
              "The imported ICC profile changed. Import it again before printing.");
  }
  auto conversion = ManagedConversion::open(applicationSettings(f.path, profileId(f.bytes)));
  EXPECT_EQ(conversion.outputSummary().name, "Bench Printer");
  EXPECT_EQ(conversion.outputIcc(), f.bytes);
  EXPECT_EQ(conversion.outputId(), profileId(f.bytes));
}

}  // namespace
}  // namespace vardelle::color
