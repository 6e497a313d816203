#include "color/png_source_color.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/print_failure.h"
#include "color/lcms.h"

namespace vardelle::color {
namespace {

const std::string kDash = "\xE2\x80\x94";

std::vector<unsigned char> describedProfile(cmsHPROFILE raw, const char* description) {
  Profile profile(raw);
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(mlu, "en", "US", description);
  cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, mlu);
  cmsMLUfree(mlu);
  return profileBytes(profile.get());
}

std::vector<unsigned char> displayP3() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
  ToneCurve curve(cmsBuildGamma(nullptr, 2.2));
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  return describedProfile(cmsCreateRGBProfile(&white, &primaries, curves), "Test Display P3");
}

std::string descriptionOf(const SourceColorSpace& space) {
  Profile p(cmsOpenProfileFromMem(space.icc.data(), cmsUInt32Number(space.icc.size())));
  return p ? profileDescription(p.get()) : "";
}

TEST(PngSourceColor, UntaggedImagesAreAssumed) {
  PngColorChunks none;
  InterpretedPng rgb = interpretedPNG(pngDecoderColorSpace(ColorModel::rgb, none), false, false);
  EXPECT_EQ(rgb.description, "Untagged PNG " + kDash + " assumed sRGB");
  EXPECT_TRUE(rgb.assumed);
  EXPECT_EQ(descriptionOf(rgb.space), "sRGB IEC61966-2.1");

  InterpretedPng gray = interpretedPNG(pngDecoderColorSpace(ColorModel::gray, none), false, false);
  EXPECT_EQ(gray.description, "Untagged grayscale PNG " + kDash + " assumed Gray Gamma 2.2");
  EXPECT_TRUE(gray.assumed);
  EXPECT_EQ(gray.space.model, ColorModel::gray);
  Profile g(cmsOpenProfileFromMem(gray.space.icc.data(), cmsUInt32Number(gray.space.icc.size())));
  ASSERT_TRUE(g);
  EXPECT_EQ(cmsGetColorSpace(g.get()), cmsSigGrayData);
  const cmsToneCurve* trc = static_cast<const cmsToneCurve*>(cmsReadTag(g.get(), cmsSigGrayTRCTag));
  ASSERT_TRUE(trc);
  EXPECT_NEAR(cmsEstimateGamma(trc, 0.01), 2.2, 0.01);

  // A palette image keeps the decoder's indexed space, described as the decoder's choice.
  InterpretedPng indexed =
      interpretedPNG(pngDecoderColorSpace(ColorModel::indexed, none), false, false);
  EXPECT_EQ(indexed.description, "PNG color interpreted by ImageIO: sRGB IEC61966-2.1");
  EXPECT_TRUE(indexed.assumed);
  EXPECT_EQ(indexed.space.model, ColorModel::indexed);
  EXPECT_EQ(indexed.space.baseModel, ColorModel::rgb);
}

TEST(PngSourceColor, EmbeddedProfileIsUsedAndNamed) {
  PngColorChunks chunks;
  chunks.iccProfile = displayP3();
  for (ColorModel model : {ColorModel::rgb, ColorModel::indexed}) {
    InterpretedPng result = interpretedPNG(pngDecoderColorSpace(model, chunks), true, false);
    EXPECT_EQ(result.description, "PNG source: Test Display P3");
    EXPECT_FALSE(result.assumed);
    EXPECT_EQ(result.space.icc, chunks.iccProfile);
    EXPECT_EQ(result.space.model, model);
  }
}

TEST(PngSourceColor, UnusableEmbeddedProfileFallsBackToTheNextChunk) {
  PngColorChunks chunks;
  chunks.iccProfile = {1, 2, 3, 4};
  chunks.srgbIntent = 0;
  EXPECT_EQ(pngDecoderColorSpace(ColorModel::rgb, chunks).name, "sRGB IEC61966-2.1");
  // An RGB profile cannot describe grey samples.
  chunks.iccProfile = displayP3();
  chunks.srgbIntent.reset();
  SourceColorSpace gray = pngDecoderColorSpace(ColorModel::gray, chunks);
  EXPECT_NE(gray.icc, chunks.iccProfile);
  EXPECT_EQ(descriptionOf(gray), "Generic Gray Gamma 2.2 Profile");
}

TEST(PngSourceColor, GammaAndChromaticitiesBuildACalibratedProfile) {
  PngColorChunks chunks;
  chunks.gamma = 1 / 1.8;
  chunks.chromaticities = PngColorChunks::Chromaticities{0.3457, 0.3585, 0.7347, 0.2653,
                                                         0.1596, 0.8404, 0.0366, 0.0001};
  InterpretedPng result =
      interpretedPNG(pngDecoderColorSpace(ColorModel::rgb, chunks), true, false);
  EXPECT_EQ(result.description, "PNG source: PNG calibrated color space");
  EXPECT_FALSE(result.assumed);
  Profile p(
      cmsOpenProfileFromMem(result.space.icc.data(), cmsUInt32Number(result.space.icc.size())));
  ASSERT_TRUE(p);
  const auto* trc = static_cast<const cmsToneCurve*>(cmsReadTag(p.get(), cmsSigRedTRCTag));
  ASSERT_TRUE(trc);
  EXPECT_NEAR(cmsEstimateGamma(trc, 0.01), 1.8, 0.01);
  // Pure red in this space is far more saturated than sRGB red: check it through a transform.
  Profile srgb(cmsCreate_sRGBProfile());
  Transform t(cmsCreateTransform(p.get(), TYPE_RGB_8, srgb.get(), TYPE_RGB_8,
                                 INTENT_RELATIVE_COLORIMETRIC, 0));
  ASSERT_TRUE(t);
  unsigned char in[3] = {255, 0, 0}, out[3];
  cmsDoTransform(t.get(), in, out, 1);
  EXPECT_EQ(out[0], 255);
  EXPECT_LT(out[1], 10);

  PngColorChunks gammaOnly;
  gammaOnly.gamma = 1.0;
  SourceColorSpace linearGray = pngDecoderColorSpace(ColorModel::gray, gammaOnly);
  Profile lg(cmsOpenProfileFromMem(linearGray.icc.data(), cmsUInt32Number(linearGray.icc.size())));
  ASSERT_TRUE(lg);
  EXPECT_EQ(cmsGetColorSpace(lg.get()), cmsSigGrayData);
  EXPECT_NEAR(cmsEstimateGamma(
                  static_cast<const cmsToneCurve*>(cmsReadTag(lg.get(), cmsSigGrayTRCTag)), 0.01),
              1.0, 0.01);
}

TEST(PngSourceColor, OversizedChunkIsInvalidMetadata) {
  try {
    interpretedPNG(standardSRGB(), true, true);
    ADD_FAILURE();
  } catch (const PrintFailure& e) {
    EXPECT_STREQ(e.what(), "The PNG contains invalid color metadata.");
  }
}

TEST(PngSourceColor, SpaceWithoutProfileIsRefusedWhenTagged) {
  SourceColorSpace bare;
  bare.model = ColorModel::rgb;
  EXPECT_THROW(interpretedPNG(bare, true, false), PrintFailure);
  // Untagged RGB never needs the decoder's space.
  EXPECT_NO_THROW(interpretedPNG(bare, false, false));
}

}  // namespace
}  // namespace vardelle::color
