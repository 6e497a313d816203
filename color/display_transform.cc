#include "color/display_transform.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "color/lcms.h"

namespace vardelle::color {

struct DisplayTransform::Impl {
  LcmsContext context;
  Transform transform;
};

DisplayTransform::DisplayTransform(const SourceColorSpace& space)
    : impl_(std::make_unique<Impl>()) {
  const ColorModel model = space.model == ColorModel::indexed ? space.baseModel : space.model;
  components_ = model == ColorModel::gray ? 1 : 3;
  if (space.icc.empty()) return;
  cmsContext context = impl_->context.get();
  Profile source(cmsOpenProfileFromMemTHR(context, space.icc.data(),
                                          static_cast<cmsUInt32Number>(space.icc.size())));
  Profile srgb(cmsCreate_sRGBProfileTHR(context));
  if (!source || !srgb) return;
  const cmsColorSpaceSignature expected = components_ == 1 ? cmsSigGrayData : cmsSigRgbData;
  if (cmsGetColorSpace(source.get()) != expected) return;
  impl_->transform.reset(cmsCreateTransformTHR(context, source.get(),
                                               components_ == 1 ? TYPE_GRAY_16 : TYPE_RGB_16,
                                               srgb.get(), TYPE_RGB_8, INTENT_PERCEPTUAL, 0));
}

DisplayTransform::DisplayTransform(DisplayTransform&&) noexcept = default;
DisplayTransform& DisplayTransform::operator=(DisplayTransform&&) noexcept = default;
DisplayTransform::~DisplayTransform() = default;

void DisplayTransform::convert(const float* samples, unsigned char* rgb, std::size_t pixels) const {
  if (impl_->transform) {
    // Through 16 bits: lcms2 evaluates floating-point input pixel by pixel, while an integer
    // transform runs on its precalculated tables, several times faster and finer than the 8-bit
    // result needs.
    std::vector<std::uint16_t> words(pixels * components_);
    for (std::size_t i = 0; i < words.size(); ++i) {
      words[i] =
          static_cast<std::uint16_t>(std::lround(std::clamp(samples[i], 0.0f, 1.0f) * 65535.0f));
    }
    cmsDoTransform(impl_->transform.get(), words.data(), rgb, static_cast<cmsUInt32Number>(pixels));
    return;
  }
  auto byte = [](float v) {
    return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
  };
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c) rgb[3 * i + c] = byte(samples[components_ == 1 ? i : 3 * i + c]);
  }
}

}  // namespace vardelle::color
