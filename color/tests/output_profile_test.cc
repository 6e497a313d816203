#include "color/output_profile.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "base/print_failure.h"
#include "testing/icc_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

using testing::TempDir;

const std::string kNotRgb =
    " profiles are listed for reference. Application-managed printing currently requires an RGB "
    "profile.";
const std::string kWrongClass =
    " profiles are listed for reference; effects, named colors, and device links cannot be used as "
    "this renderer's RGB output profile.";
const std::string kNotValidated =
    "ColorSync cannot validate this profile for RGB conversion. It remains available in the "
    "catalog.";
const std::string kChanged = "The imported ICC profile changed. Import it again before printing.";

CatalogProfile catalog(std::string bytes, const std::string& fileName = "p.icc") {
  return CatalogProfile::fromBytes(std::make_shared<const std::string>(std::move(bytes)), fileName);
}

/// The refusal of output(expectedId), or "" when the profile is accepted.
std::string outputRefusal(const CatalogProfile& profile,
                          const std::optional<std::string>& expectedId = std::nullopt) {
  try {
    profile.output(expectedId);
    return "";
  } catch (const PrintFailure& e) {
    return e.message();
  }
}

TEST(OutputProfile, RgbDisplayAndLutPrinterProfilesAreUsable) {
  struct Case {
    std::string bytes;
    std::string deviceClass;
  } cases[] = {
      {testing::makeMatrixShaperRgbProfile("Display"), "display"},
      {testing::makeMatrixShaperRgbProfile("Scanner", "scnr"), "input"},
      {testing::makeMatrixShaperRgbProfile("Space", "spac"), "colorSpace"},
      {testing::makeLutRgbPrinterProfile("Glossy Paper"), "output"},
  };
  for (const auto& c : cases) {
    ProfileSummary summary = catalog(c.bytes).summary();
    EXPECT_TRUE(summary.usableForPrinting)
        << c.deviceClass << ": " << summary.incompatibilityReason.value_or("");
    EXPECT_FALSE(summary.incompatibilityReason);
    EXPECT_EQ(summary.colorSpace, "RGB");
    EXPECT_EQ(summary.deviceClass, c.deviceClass);
  }
  OutputProfile printer = catalog(testing::makeLutRgbPrinterProfile("Glossy Paper")).output({});
  EXPECT_EQ(printer.summary().name, "Glossy Paper");
  EXPECT_NE(printer.profile(), nullptr);
}

TEST(OutputProfile, UnusableProfilesSayWhyInTheirSummary) {
  struct Case {
    std::string bytes;
    std::string reason;
  } cases[] = {
      {testing::makeCmykPrinterProfile(), "CMYK" + kNotRgb},
      {testing::makeLabAbstractProfile(), "Lab" + kNotRgb},
      // The colour space comes first, even for a file too large to convert.
      {testing::paddedProfile(testing::makeCmykPrinterProfile(), kConversionProfileSizeLimit + 1),
       "CMYK" + kNotRgb},
      {testing::makeRgbDeviceLink(), "deviceLink" + kWrongClass},
      {testing::makeMatrixShaperRgbProfile("Named", "nmcl"), "namedColor" + kWrongClass},
      {testing::makeMatrixShaperRgbProfile("Odd", "odd "), "odd" + kWrongClass},
      // Sound for the catalog, but the engine cannot read its red colorant.
      {testing::withDamagedTag(testing::makeMatrixShaperRgbProfile(), "rXYZ"), kNotValidated},
      // A printer profile must be table-based; it cannot convert towards a missing table either.
      {testing::makeMatrixShaperRgbProfile("Matrix Printer", "prtr"), kNotValidated},
      {testing::withDamagedTag(testing::makeLutRgbPrinterProfile(), "B2A0"), kNotValidated},
      // Opens as far as the catalog goes, but the engine refuses its header.
      {testing::makeRawProfile(152, {{144, 8}}), kNotValidated},
  };
  for (const auto& c : cases) {
    ProfileSummary summary = catalog(c.bytes, "file.icc").summary();
    EXPECT_FALSE(summary.usableForPrinting) << c.reason;
    EXPECT_EQ(summary.incompatibilityReason.value_or(""), c.reason);
  }
  // The engine-refused profile keeps its catalog listing and its name.
  ProfileSummary damaged =
      catalog(testing::withDamagedTag(testing::makeMatrixShaperRgbProfile("Broken"), "rXYZ"))
          .summary();
  EXPECT_EQ(damaged.name, "Broken");
  EXPECT_EQ(damaged.deviceClass, "display");
  EXPECT_EQ(damaged.colorSpace, "RGB");
}

TEST(OutputProfile, ConversionSizeLimitIsInclusive) {
  const std::string display = testing::makeMatrixShaperRgbProfile();
  EXPECT_EQ(outputRefusal(catalog(testing::paddedProfile(display, kConversionProfileSizeLimit))),
            "");
  EXPECT_EQ(
      outputRefusal(catalog(testing::paddedProfile(display, kConversionProfileSizeLimit + 1))),
      kProfileTooLargeForConversion);
}

TEST(OutputProfile, FortyMegabyteProfileIsListedButNotConverted) {
  TempDir dir;
  const std::string path = dir.write(
      "large.icc",
      testing::paddedProfile(testing::makeMatrixShaperRgbProfile("Large"), 40u * 1024 * 1024));
  CatalogProfile listed = CatalogProfile::load(path, false);
  EXPECT_EQ(listed.name(), "Large");
  ProfileSummary summary = listed.summary();
  EXPECT_FALSE(summary.usableForPrinting);
  EXPECT_EQ(summary.incompatibilityReason.value_or(""), kProfileTooLargeForConversion);
  try {
    CatalogProfile::load(path, true);
    ADD_FAILURE() << "an owned load of 40 MB succeeded";
  } catch (const PrintFailure& e) {
    EXPECT_EQ(e.message(), std::string(kProfileTooLargeForConversion));
  }
  EXPECT_THROW(OutputProfile::load(path, std::nullopt), PrintFailure);
}

TEST(OutputProfile, IdIsTheLowercaseSha256OfTheBytes) {
  EXPECT_EQ(profileId("abc"),
            "icc-ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDir dir;
  const std::string bytes = testing::makeMatrixShaperRgbProfile("Id");
  const std::string first = dir.write("first.icc", bytes);
  const std::string second = dir.write("other name.icm", bytes);
  OutputProfile a = OutputProfile::load(first, std::nullopt);
  OutputProfile b = OutputProfile::load(second, a.id());
  EXPECT_EQ(a.id(), b.id());
  EXPECT_EQ(a.id(), profileId(bytes));

  std::string changed = bytes;
  changed[changed.size() - 1] ^= 1;
  const std::string changedPath = dir.write("changed.icc", changed);
  EXPECT_NE(OutputProfile::load(changedPath, std::nullopt).id(), a.id());
  EXPECT_EQ(outputRefusal(catalog(changed), a.id()), kChanged);

  std::string upper = a.id();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(outputRefusal(catalog(bytes), upper), kChanged);
  EXPECT_EQ(outputRefusal(catalog(bytes), ""), kChanged);
  EXPECT_EQ(outputRefusal(catalog(bytes), a.id()), "");
}

TEST(OutputProfile, WorkingSpaceIsRommRgb) {
  LcmsContext context;
  WorkingSpace working = workingRGB(context);
  ASSERT_NE(working.profile, nullptr);
  EXPECT_EQ(cmsGetColorSpace(working.profile.get()), cmsSigRgbData);
  EXPECT_EQ(cmsGetEncodedICCversion(working.profile.get()) >> 24, 4u);
  auto* white =
      static_cast<cmsCIEXYZ*>(cmsReadTag(working.profile.get(), cmsSigMediaWhitePointTag));
  ASSERT_NE(white, nullptr);
  EXPECT_NEAR(white->X, cmsD50_XYZ()->X, 1e-3);
  EXPECT_NEAR(white->Z, cmsD50_XYZ()->Z, 1e-3);
  auto* curve = static_cast<cmsToneCurve*>(cmsReadTag(working.profile.get(), cmsSigRedTRCTag));
  ASSERT_NE(curve, nullptr);
  EXPECT_NEAR(cmsEstimateGamma(curve, 0.01), 1.8, 0.01);
  const std::pair<cmsTagSignature, std::array<double, 2>> primaries[] = {
      {cmsSigRedColorantTag, {0.7347, 0.2653}},
      {cmsSigGreenColorantTag, {0.1596, 0.8404}},
      {cmsSigBlueColorantTag, {0.0366, 0.0001}}};
  for (const auto& [tag, xy] : primaries) {
    auto* colorant = static_cast<cmsCIEXYZ*>(cmsReadTag(working.profile.get(), tag));
    ASSERT_NE(colorant, nullptr);
    cmsCIExyY chromaticity;
    cmsXYZ2xyY(&chromaticity, colorant);
    EXPECT_NEAR(chromaticity.x, xy[0], 2e-3);
    EXPECT_NEAR(chromaticity.y, xy[1], 2e-3);
  }
  // The bytes handed on describe the same profile.
  Profile reopened(cmsOpenProfileFromMemTHR(context.get(), working.iccBytes.data(),
                                            static_cast<cmsUInt32Number>(working.iccBytes.size())));
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(profileDescription(reopened.get()), "ROMM RGB");
  EXPECT_TRUE(context.messages().empty());
}

TEST(OutputProfile, TransformsConvertRgbxAndLeaveTheSkippedSlotAlone) {
  LcmsContext context;
  WorkingSpace working = workingRGB(context);
  OutputProfile display = catalog(testing::makeMatrixShaperRgbProfile()).output({});
  for (const char* intent :
       {"perceptual", "relativeColorimetric", "saturation", "absoluteColorimetric"}) {
    ColorManagement settings = ColorManagement::printer();
    settings.renderingIntent = intent;
    Transform transform =
        makeColorTransform(context, working.profile.get(), display.profile(), settings);
    // Host order is little-endian here; the words are (R, G, B, skipped).
    const std::uint16_t source[8] = {0, 0, 0, 65535, 65535, 65535, 65535, 0};
    std::uint16_t out[8] = {1, 1, 1, 0x1234, 1, 1, 1, 0x4321};
    cmsDoTransformLineStride(transform.get(), source, out, 2, 1, 16, 16, 0, 0);
    EXPECT_LE(out[0], 300) << intent;
    EXPECT_GE(out[4], 65000) << intent;
    EXPECT_GE(out[6], 65000) << intent;
    EXPECT_EQ(out[3], 0x1234) << intent;
    EXPECT_EQ(out[7], 0x4321) << intent;
  }
  EXPECT_EQ(engineIntent("perceptual"), static_cast<cmsUInt32Number>(INTENT_PERCEPTUAL));
  EXPECT_EQ(engineIntent("saturation"), static_cast<cmsUInt32Number>(INTENT_SATURATION));
  EXPECT_EQ(engineIntent("absoluteColorimetric"),
            static_cast<cmsUInt32Number>(INTENT_ABSOLUTE_COLORIMETRIC));
  EXPECT_EQ(engineIntent("Perceptual"), static_cast<cmsUInt32Number>(INTENT_RELATIVE_COLORIMETRIC));
}

TEST(OutputProfile, TransformFailureIsReported) {
  LcmsContext context;
  WorkingSpace working = workingRGB(context);
  Profile lab(cmsCreateLab4ProfileTHR(context.get(), nullptr));
  // RGBX pixels cannot feed a Lab profile: the engine refuses to link, and says so only to the
  // context.
  try {
    makeColorTransform(context, lab.get(), working.profile.get(), ColorManagement::printer());
    ADD_FAILURE() << "linked Lab input with RGB pixels";
  } catch (const PrintFailure& e) {
    EXPECT_EQ(e.message(),
              std::string("ColorSync could not create the requested printer-profile conversion."));
  }
  EXPECT_FALSE(context.messages().empty());
}

}  // namespace
}  // namespace vardelle::color
