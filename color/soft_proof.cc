#include <cmath>

#include "base/print_failure.h"
#include "color/output_profile.h"
#include "color/proof_transforms.h"
#include "color/soft_proof.h"

namespace vardelle::color {

double GamutTally::outsidePercent() const {
  const std::uint64_t all = pixels();
  if (all == 0) return 0;
  return std::round(double(outside()) * 1000.0 / double(all)) / 10.0;
}

namespace {

cmsUInt32Number proofIntent(bool paperWhite) {
  return paperWhite ? INTENT_ABSOLUTE_COLORIMETRIC : INTENT_RELATIVE_COLORIMETRIC;
}

}  // namespace

ProofTransforms makeProofTransforms(cmsHPROFILE source, cmsUInt32Number sourceFormat,
                                    cmsHPROFILE printer, const ColorManagement& settings,
                                    bool paperWhite) {
  ProofTransforms proof;
  proof.context = std::make_unique<LcmsContext>();
  cmsContext context = proof.context->get();
  if (!context) throw PrintFailure(kSoftProofUnavailable);
  // The gamut check writes the alarm codes where a colour is out of gamut. Into the one channel
  // of the null profile, which writes 0 for every other colour, they make a mark that no colour
  // can imitate: counting painted pixels of the picture would also count in-gamut colours that
  // happen to equal the warning colour.
  cmsUInt16Number alarm[cmsMAXCHANNELS] = {0xFFFF};
  cmsSetAlarmCodesTHR(context, alarm);
  Profile srgb(cmsCreate_sRGBProfileTHR(context));
  Profile marks(cmsCreateNULLProfileTHR(context));
  if (!srgb || !marks) throw PrintFailure(kSoftProofUnavailable);

  // The first half of both chains is the print's own conversion: the same intent, black-point
  // compensation, adaptation state and precision as makeColorTransform.
  const cmsUInt32Number intent = engineIntent(settings.renderingIntent);
  cmsUInt32Number flags = cmsFLAGS_HIGHRESPRECALC;
  if (settings.blackPointCompensation) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  proof.picture.reset(cmsCreateProofingTransformTHR(
      context, source, sourceFormat, srgb.get(), TYPE_RGB_16, printer, intent,
      proofIntent(paperWhite), flags | cmsFLAGS_SOFTPROOFING));
  // The check is built once, here: the picture's own would cost the engine a second sampling of
  // the printer's gamut, and its marks are the warning colour painted where these say.
  proof.gamutCheck.reset(cmsCreateProofingTransformTHR(
      context, source, sourceFormat, marks.get(), TYPE_GRAY_16, printer, intent,
      INTENT_RELATIVE_COLORIMETRIC, flags | cmsFLAGS_GAMUTCHECK));
  if (!proof.picture || !proof.gamutCheck) throw PrintFailure(kSoftProofUnavailable);
  return proof;
}

std::array<std::uint8_t, 3> proofPaperRgb(cmsHPROFILE printer, bool paperWhite) {
  LcmsContext context;
  Profile srgb(cmsCreate_sRGBProfileTHR(context.get()));
  if (!srgb) throw PrintFailure(kSoftProofUnavailable);
  // The last half of the proof's chain: the printer profile read as input, then sRGB.
  Transform toScreen(cmsCreateTransformTHR(context.get(), printer, TYPE_RGB_16, srgb.get(),
                                           TYPE_RGB_8, proofIntent(paperWhite), 0));
  if (!toScreen) throw PrintFailure(kSoftProofUnavailable);
  const cmsUInt16Number noInk[3] = {65535, 65535, 65535};
  std::array<std::uint8_t, 3> rgb{};
  cmsDoTransform(toScreen.get(), noInk, rgb.data(), 1);
  return rgb;
}

}  // namespace vardelle::color
