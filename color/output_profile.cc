#include "color/output_profile.h"

#include <openssl/evp.h>

#include <array>
#include <bit>
#include <cstdio>
#include <limits>

#include "base/module_loader.h"
#include "base/print_failure.h"

namespace vardelle::color {

namespace {

const char* const kNotValidated =
    "ColorSync cannot validate this profile for RGB conversion. It remains available in the "
    "catalog.";
const char* const kCannotConvert =
    "ColorSync cannot convert with this profile as RGB output. It remains available in the "
    "catalog.";
const char* const kWorkingSpaceUnavailable =
    "The macOS wide-gamut working color profile is unavailable.";
const char* const kNoTransform =
    "ColorSync could not create the requested printer-profile conversion.";

struct MluFreer {
  void operator()(cmsMLU* m) const noexcept { cmsMLUfree(m); }
};
using Mlu = std::unique_ptr<cmsMLU, MluFreer>;

bool hasTags(cmsHPROFILE profile, std::initializer_list<cmsTagSignature> tags) {
  for (auto tag : tags) {
    if (!cmsIsTag(profile, tag)) return false;
  }
  return true;
}

bool trialLinkBuilds(cmsContext context, cmsHPROFILE profile, cmsHPROFILE lab, bool toLab) {
  cmsHPROFILE from = toLab ? profile : lab;
  cmsHPROFILE to = toLab ? lab : profile;
  Transform trial(cmsCreateTransformTHR(context, from, toLab ? TYPE_RGB_16 : TYPE_Lab_16, to,
                                        toLab ? TYPE_Lab_16 : TYPE_RGB_16, INTENT_PERCEPTUAL,
                                        cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE));
  return trial != nullptr;
}

// What "validated by the engine" means here, standing in for the platform's profile verification:
//  1. lcms2 opens the bytes (done by the caller; a null profile never gets here);
//  2. the tags its class needs are present: a description, plus either the matrix-shaper set
//     (rXYZ gXYZ bXYZ rTRC gTRC bTRC) or the AToB0/BToA0 pair. A printer (output class) profile
//     must carry the pair, since ICC output profiles are LUT-based;
//  3. lcms2 can use it with the perceptual intent as output and as input, the two directions of
//     the test transforms (lcms2 falls back to the perceptual tables for the other intents, so
//     asking about those would refuse profiles that convert fine);
//  4. a trial link from the profile to Lab and from Lab to it builds. lcms2 reads tag data
//     lazily, so a profile whose tags are damaged opens cleanly and fails only when linked.
bool engineValidates(cmsContext context, cmsHPROFILE profile) {
  if (!cmsIsTag(profile, cmsSigProfileDescriptionTag)) return false;
  const bool lutPair = hasTags(profile, {cmsSigAToB0Tag, cmsSigBToA0Tag});
  const bool matrixShaper =
      hasTags(profile, {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag,
                        cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag});
  if (cmsGetDeviceClass(profile) == cmsSigOutputClass ? !lutPair : !(lutPair || matrixShaper)) {
    return false;
  }
  if (!cmsIsIntentSupported(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT) ||
      !cmsIsIntentSupported(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT)) {
    return false;
  }
  Profile lab(cmsCreateLab4ProfileTHR(context, nullptr));
  return lab && trialLinkBuilds(context, profile, lab.get(), true) &&
         trialLinkBuilds(context, profile, lab.get(), false);
}

/// Converts the two test pixels (black with the skipped slot 65535, white with it 0) into a
/// zeroed buffer of the same shape. lcms2's conversion has no status, so a message logged by the
/// engine during it counts as failure.
bool convertTestPixels(const LcmsContext& context, cmsHTRANSFORM transform) {
  auto le = [](std::uint16_t v) {
    return std::array<unsigned char, 2>{static_cast<unsigned char>(v & 0xFF),
                                        static_cast<unsigned char>(v >> 8)};
  };
  const std::uint16_t words[8] = {0, 0, 0, 65535, 65535, 65535, 65535, 0};
  std::array<unsigned char, 16> source{};
  for (std::size_t i = 0; i < 8; ++i) {
    auto bytes = le(words[i]);
    source[2 * i] = bytes[0];
    source[2 * i + 1] = bytes[1];
  }
  std::array<unsigned char, 16> destination{};
  const std::size_t before = context.messages().size();
  cmsDoTransformLineStride(transform, source.data(), destination.data(), 2, 1, 16, 16, 0, 0);
  return context.messages().size() == before;
}

ColorManagement testSettings() {
  ColorManagement settings;
  settings.mode = "printer";
  settings.renderingIntent = "perceptual";
  settings.blackPointCompensation = true;
  settings.driverColorManagementDisabled = false;
  return settings;
}

}  // namespace

namespace {

// libcrypto is bound the first time a profile is identified, not when the helper starts: loading
// it costs several milliseconds, more than inspecting a picture takes, and most commands never
// read a printer profile.
struct Sha256Api {
  decltype(&EVP_Digest) digest = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
};

const Sha256Api& sha256Api() {
  static const Sha256Api api = [] {
    Sha256Api bound;
    RuntimeLibrary library({"libcrypto.so.3"});
    library.bind("EVP_Digest", bound.digest);
    library.bind("EVP_sha256", bound.sha256);
    return bound;
  }();
  return api;
}

}  // namespace

std::string profileId(std::string_view bytes) {
  const Sha256Api& api = sha256Api();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!api.digest || !api.sha256 ||
      api.digest(bytes.data(), bytes.size(), digest, &length, api.sha256(), nullptr) != 1 ||
      length != 32) {
    throw PlatformError("The SHA-256 digest of the ICC profile could not be computed.");
  }
  std::string id = "icc-";
  char hex[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", digest[i]);
    id += hex;
  }
  return id;
}

cmsUInt32Number engineIntent(const std::string& renderingIntent) {
  if (renderingIntent == "perceptual") return INTENT_PERCEPTUAL;
  if (renderingIntent == "saturation") return INTENT_SATURATION;
  if (renderingIntent == "absoluteColorimetric") return INTENT_ABSOLUTE_COLORIMETRIC;
  return INTENT_RELATIVE_COLORIMETRIC;
}

cmsUInt32Number rgbx16LittleEndianFormat() {
  // lcms2 reads 16-bit words in host order unless told to swap them.
  return std::endian::native == std::endian::little ? TYPE_RGBA_16 : TYPE_RGBA_16 | ENDIAN16_SH(1);
}

OutputProfile::OutputProfile(std::shared_ptr<const std::string> data,
                             std::shared_ptr<Engine> engine, ProfileSummary summary, std::string id)
    : data_(std::move(data)),
      engine_(std::move(engine)),
      summary_(std::move(summary)),
      id_(std::move(id)) {}

OutputProfile OutputProfile::load(const std::string& path,
                                  const std::optional<std::string>& expectedId) {
  return CatalogProfile::load(path, true).output(expectedId);
}

OutputProfile CatalogProfile::output(const std::optional<std::string>& expectedId) const {
  if (colorSpace_ != "RGB") {
    throw PrintFailure(colorSpace_ +
                       " profiles are listed for reference. Application-managed printing "
                       "currently requires an RGB profile.");
  }
  if (deviceClass_ != "output" && deviceClass_ != "display" && deviceClass_ != "input" &&
      deviceClass_ != "colorSpace") {
    throw PrintFailure(deviceClass_ +
                       " profiles are listed for reference; effects, named colors, and device "
                       "links cannot be used as this renderer's RGB output profile.");
  }
  if (data_->size() > kConversionProfileSizeLimit) {
    throw PrintFailure(kProfileTooLargeForConversion);
  }
  std::string id = profileId(*data_);
  if (expectedId && *expectedId != id) {
    throw PrintFailure("The imported ICC profile changed. Import it again before printing.");
  }

  auto engine = std::make_shared<OutputProfile::Engine>();
  engine->context = std::make_unique<LcmsContext>();
  LcmsContext& context = *engine->context;
  engine->profile.reset(cmsOpenProfileFromMemTHR(context.get(), data_->data(),
                                                 static_cast<cmsUInt32Number>(data_->size())));
  cmsHPROFILE profile = engine->profile.get();
  if (!profile || !engineValidates(context.get(), profile)) throw PrintFailure(kNotValidated);
  if (cmsGetColorSpace(profile) != cmsSigRgbData) throw PrintFailure(kNotValidated);

  WorkingSpace working = workingRGB(context);
  const ColorManagement settings = testSettings();
  Transform forward = makeColorTransform(context, working.profile.get(), profile, settings);
  if (!convertTestPixels(context, forward.get())) throw PrintFailure(kCannotConvert);
  Transform reverse = makeColorTransform(context, profile, working.profile.get(), settings);
  if (!convertTestPixels(context, reverse.get())) throw PrintFailure(kCannotConvert);

  ProfileSummary summary{name_, colorSpace_, deviceClass_, true, std::nullopt};
  return OutputProfile(data_, std::move(engine), std::move(summary), std::move(id));
}

WorkingSpace workingRGB(LcmsContext& context) {
  // ROMM RGB (ISO 22028-2): D50 white, its own primaries, a pure 1.8 gamma.
  const cmsCIExyYTRIPLE primaries = {
      {0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
  ToneCurve gamma(cmsBuildGamma(context.get(), 1.8));
  if (!gamma) throw PrintFailure(kWorkingSpaceUnavailable);
  cmsToneCurve* curves[3] = {gamma.get(), gamma.get(), gamma.get()};
  Profile built(cmsCreateRGBProfileTHR(context.get(), cmsD50_xyY(), &primaries, curves));
  if (!built) throw PrintFailure(kWorkingSpaceUnavailable);
  Mlu description(cmsMLUalloc(context.get(), 1));
  if (!description || !cmsMLUsetASCII(description.get(), "en", "US", "ROMM RGB") ||
      !cmsWriteTag(built.get(), cmsSigProfileDescriptionTag, description.get())) {
    throw PrintFailure(kWorkingSpaceUnavailable);
  }
  std::vector<unsigned char> bytes = profileBytes(built.get());
  if (bytes.empty()) throw PrintFailure(kWorkingSpaceUnavailable);
  // The transforms use the profile as written, so the bytes handed on describe exactly the space
  // the pixels are in.
  Profile reopened(cmsOpenProfileFromMemTHR(context.get(), bytes.data(),
                                            static_cast<cmsUInt32Number>(bytes.size())));
  if (!reopened || cmsGetColorSpace(reopened.get()) != cmsSigRgbData) {
    throw PrintFailure(kWorkingSpaceUnavailable);
  }
  return WorkingSpace{std::move(reopened), std::string(bytes.begin(), bytes.end())};
}

Transform makeColorTransform(LcmsContext& context, cmsHPROFILE source, cmsHPROFILE destination,
                             const ColorManagement& settings, cmsUInt32Number inputFormat,
                             cmsUInt32Number outputFormat) {
  cmsHPROFILE profiles[2] = {source, destination};
  const cmsUInt32Number intent = engineIntent(settings.renderingIntent);
  cmsUInt32Number intents[2] = {intent, intent};
  cmsBool blackPoint[2] = {settings.blackPointCompensation, settings.blackPointCompensation};
  const cmsFloat64Number adaptation = cmsSetAdaptationStateTHR(context.get(), -1);
  cmsFloat64Number adaptations[2] = {adaptation, adaptation};
  cmsUInt32Number flags = cmsFLAGS_HIGHRESPRECALC;
  if (settings.blackPointCompensation) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  Transform transform(cmsCreateExtendedTransform(context.get(), 2, profiles, blackPoint, intents,
                                                 adaptations, nullptr, 0, inputFormat, outputFormat,
                                                 flags));
  if (!transform) throw PrintFailure(kNoTransform);
  return transform;
}

}  // namespace vardelle::color
