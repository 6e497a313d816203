#include "color/png_source_color.h"

#include <cmath>

#include "base/print_failure.h"
#include "color/lcms.h"

namespace vardelle::color {

namespace {

const char* kCalibratedName = "PNG calibrated color space";
const char* kNoSpace = "The PNG has no usable source color space.";

// The names the parent application's users know for these spaces.
const char* kSRGBName = "sRGB IEC61966-2.1";
const char* kGrayGammaName = "Generic Gray Gamma 2.2 Profile";
const char* kSRGBGrayName = "Gray with sRGB tone response";

void describe(cmsContext context, cmsHPROFILE profile, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(context, 1);
  if (!mlu) return;
  cmsMLUsetASCII(mlu, "en", "US", text);
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu);
  cmsMLUfree(mlu);
}

SourceColorSpace spaceFrom(cmsContext context, cmsHPROFILE profile, ColorModel model,
                           const char* description) {
  if (!profile) throw PrintFailure(kNoSpace);
  Profile owned(profile);
  describe(context, profile, description);
  SourceColorSpace space;
  space.model = model;
  space.baseModel = model == ColorModel::gray ? ColorModel::gray : ColorModel::rgb;
  space.icc = profileBytes(profile);
  space.name = description;
  if (space.icc.empty()) throw PrintFailure(kNoSpace);
  return space;
}

cmsCIExyY d65() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  return white;
}

SourceColorSpace graySpace(ColorModel model, const cmsCIExyY& white, ToneCurve curve,
                           const char* name) {
  LcmsContext context;
  if (!curve) throw PrintFailure(kNoSpace);
  return spaceFrom(context.get(), cmsCreateGrayProfileTHR(context.get(), &white, curve.get()),
                   model, name);
}

SourceColorSpace srgbGray(ColorModel model) {
  LcmsContext context;
  const double parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return graySpace(model, d65(),
                   ToneCurve(cmsBuildParametricToneCurve(context.get(), 4, parameters)),
                   kSRGBGrayName);
}

SourceColorSpace srgb(ColorModel model) {
  LcmsContext context;
  SourceColorSpace space =
      spaceFrom(context.get(), cmsCreate_sRGBProfileTHR(context.get()), model, kSRGBName);
  return space;
}

// An embedded profile is used when LittleCMS reads it and it describes the image's own kind of
// samples; anything else is ignored, as decoders do.
std::optional<SourceColorSpace> embedded(ColorModel model, const std::vector<unsigned char>& icc) {
  if (icc.empty()) return std::nullopt;
  LcmsContext context;
  Profile profile(cmsOpenProfileFromMemTHR(context.get(), icc.data(), cmsUInt32Number(icc.size())));
  if (!profile) return std::nullopt;
  const cmsColorSpaceSignature expected =
      model == ColorModel::gray ? cmsSigGrayData : cmsSigRgbData;
  if (cmsGetColorSpace(profile.get()) != expected) return std::nullopt;
  SourceColorSpace space;
  space.model = model;
  space.baseModel = model == ColorModel::gray ? ColorModel::gray : ColorModel::rgb;
  space.icc = icc;
  space.name = profileDescription(profile.get());
  return space;
}

SourceColorSpace calibrated(ColorModel model, const PngColorChunks& chunks) {
  LcmsContext context;
  // gAMA holds the encoding exponent; the profile's curve is its inverse. Without gAMA the
  // common display gamma is taken.
  double exponent = 2.2;
  if (chunks.gamma) exponent = 1.0 / *chunks.gamma;
  if (!std::isfinite(exponent) || !(exponent > 0)) throw PrintFailure(kNoSpace);
  cmsCIExyY white = d65();
  cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  if (chunks.chromaticities) {
    const auto& c = *chunks.chromaticities;
    white = {c.whiteX, c.whiteY, 1.0};
    primaries = {{c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
  }
  if (model == ColorModel::gray) {
    return graySpace(model, white, ToneCurve(cmsBuildGamma(context.get(), exponent)),
                     kCalibratedName);
  }
  ToneCurve curve(cmsBuildGamma(context.get(), exponent));
  if (!curve) throw PrintFailure(kNoSpace);
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  return spaceFrom(context.get(), cmsCreateRGBProfileTHR(context.get(), &white, &primaries, curves),
                   model, kCalibratedName);
}

}  // namespace

SourceColorSpace standardSRGB() { return srgb(ColorModel::rgb); }

SourceColorSpace grayGamma22() {
  LcmsContext context;
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  return graySpace(ColorModel::gray, white, ToneCurve(cmsBuildGamma(context.get(), 2.2)),
                   kGrayGammaName);
}

SourceColorSpace pngDecoderColorSpace(ColorModel model, const PngColorChunks& chunks) {
  if (auto space = embedded(model, chunks.iccProfile)) return *space;
  if (chunks.srgbIntent) return model == ColorModel::gray ? srgbGray(model) : srgb(model);
  if (chunks.gamma || chunks.chromaticities) return calibrated(model, chunks);
  if (model == ColorModel::gray) return grayGamma22();
  return srgb(model);
}

std::string displayName(const SourceColorSpace& space) {
  if (!space.icc.empty()) {
    LcmsContext context;
    Profile profile(cmsOpenProfileFromMemTHR(context.get(), space.icc.data(),
                                             cmsUInt32Number(space.icc.size())));
    if (profile) {
      std::string description = profileDescription(profile.get());
      if (!description.empty()) return description;
    }
  }
  return space.name.empty() ? kCalibratedName : space.name;
}

InterpretedPng interpretedPNG(const SourceColorSpace& decoderSpace, bool colorMetadataSeen,
                              bool oversizedChunk) {
  if (oversizedChunk) throw PrintFailure("The PNG contains invalid color metadata.");
  if (!colorMetadataSeen) {
    if (decoderSpace.model == ColorModel::rgb) {
      return {standardSRGB(), "Untagged PNG \xE2\x80\x94 assumed sRGB", true};
    }
    if (decoderSpace.model == ColorModel::gray) {
      return {grayGamma22(), "Untagged grayscale PNG \xE2\x80\x94 assumed Gray Gamma 2.2", true};
    }
  }
  if (decoderSpace.icc.empty()) throw PrintFailure(kNoSpace);
  const std::string name = displayName(decoderSpace);
  if (colorMetadataSeen) return {decoderSpace, "PNG source: " + name, false};
  return {decoderSpace, "PNG color interpreted by ImageIO: " + name, true};
}

}  // namespace vardelle::color
