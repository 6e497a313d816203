#include "color/managed_conversion.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "base/print_failure.h"
#include "color/catalog_profile.h"
#include "color/lcms.h"
#include "color/output_profile.h"

namespace vardelle::color {

namespace {

// Rows are staged packed in host order for the engine (see convertRows).
constexpr cmsUInt32Number kGray16 = TYPE_GRAY_16;
constexpr cmsUInt32Number kRgb16 = TYPE_RGB_16;

// A source profile is usable when the engine reads it, it describes the samples' own kind of
// colour, it can serve as the input side of a link (a grey curve, the matrix-shaper set or an
// AToB table) and it is not a link or an abstract or named-colour profile.
bool sourceProfileUsable(cmsHPROFILE profile, ColorModel model) {
  const cmsColorSpaceSignature expected =
      model == ColorModel::gray ? cmsSigGrayData : cmsSigRgbData;
  if (cmsGetColorSpace(profile) != expected) return false;
  const cmsProfileClassSignature cls = cmsGetDeviceClass(profile);
  if (cls == cmsSigLinkClass || cls == cmsSigAbstractClass || cls == cmsSigNamedColorClass) {
    return false;
  }
  const cmsColorSpaceSignature pcs = cmsGetPCS(profile);
  if (pcs != cmsSigXYZData && pcs != cmsSigLabData) return false;
  const bool table = cmsIsTag(profile, cmsSigAToB0Tag);
  const bool shaper =
      model == ColorModel::gray
          ? cmsIsTag(profile, cmsSigGrayTRCTag)
          : cmsIsTag(profile, cmsSigRedColorantTag) && cmsIsTag(profile, cmsSigGreenColorantTag) &&
                cmsIsTag(profile, cmsSigBlueColorantTag) && cmsIsTag(profile, cmsSigRedTRCTag) &&
                cmsIsTag(profile, cmsSigGreenTRCTag) && cmsIsTag(profile, cmsSigBlueTRCTag);
  return (table || shaper) && cmsIsIntentSupported(profile, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT);
}

}  // namespace

struct PageTransform::Impl {
  Transform transform;
};

PageTransform::PageTransform(std::unique_ptr<Impl> impl, int components)
    : impl_(std::move(impl)), components_(components) {}
PageTransform::PageTransform(PageTransform&&) noexcept = default;
PageTransform& PageTransform::operator=(PageTransform&&) noexcept = default;
PageTransform::~PageTransform() = default;

namespace {

/// Converts rows through packed 3-word RGB (or 1-word grey) formats, staging RGBX source rows:
/// lcms2 has fast paths for those, while a skipped fourth word sends every pixel through its
/// generic formatters (about 40 % slower). The values are the same, since formatters only move
/// words.
// Pixels staged at a time: the staging stays small whatever the width.
constexpr std::uint32_t kSegmentPixels = 8192;

void convertRows(cmsHTRANSFORM transform, int components, const std::uint16_t* source,
                 std::size_t sourceRowWords, std::uint16_t* destination,
                 std::size_t destinationRowWords, std::uint32_t width, std::uint32_t rows,
                 std::uint16_t* staging) {
  for (std::uint32_t y = 0; y < rows; ++y) {
    for (std::uint32_t x0 = 0; x0 < width; x0 += kSegmentPixels) {
      const std::uint32_t n = std::min(kSegmentPixels, width - x0);
      const std::uint16_t* in = source + y * sourceRowWords + std::size_t(x0) * components;
      std::uint16_t* out = destination + y * destinationRowWords + std::size_t(x0) * 3;
      const std::uint16_t* packed = in;
      if (components == 4) {
        for (std::uint32_t x = 0; x < n; ++x) {
          staging[3 * x] = in[4 * x];
          staging[3 * x + 1] = in[4 * x + 1];
          staging[3 * x + 2] = in[4 * x + 2];
        }
        packed = staging;
      }
      cmsDoTransform(transform, packed, out, n);
    }
  }
}

}  // namespace

void PageTransform::convertOnThisThread(const std::uint16_t* source, std::size_t sourceRowWords,
                                        std::uint16_t* destination, std::size_t destinationRowWords,
                                        std::uint32_t width, std::uint32_t rows) const {
  if (width == 0 || rows == 0) return;
  std::vector<std::uint16_t> staging(std::size_t(std::min(width, kSegmentPixels)) * 3);
  convertRows(impl_->transform.get(), components_, source, sourceRowWords, destination,
              destinationRowWords, width, rows, staging.data());
}

void PageTransform::convert(const std::uint16_t* source, std::size_t sourceRowWords,
                            std::uint16_t* destination, std::size_t destinationRowWords,
                            std::uint32_t width, std::uint32_t rows) const {
  if (width == 0 || rows == 0) return;
  // A transform's pixel cache is copied for each call, so disjoint rows on several threads give
  // exactly the single-threaded result.
  const std::uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::uint32_t parts = std::min(cores, std::max(1u, rows / 8));
  const std::uint32_t perPart = (rows + parts - 1) / parts;
  // Staging rows for every part, taken before any thread starts.
  const std::size_t segment = std::min(width, kSegmentPixels);
  std::vector<std::uint16_t> staging(segment * 3 * parts);
  auto part = [&](std::uint32_t index, std::uint32_t first, std::uint32_t count) {
    convertRows(impl_->transform.get(), components_, source + first * sourceRowWords,
                sourceRowWords, destination + first * destinationRowWords, destinationRowWords,
                width, count, staging.data() + segment * 3 * index);
  };
  std::vector<std::thread> helpers;
  std::uint32_t index = 1;
  std::uint32_t first = perPart;  // the calling thread takes the first part
  for (; first < rows; first += perPart, ++index) {
    const std::uint32_t count = std::min(perPart, rows - first);
    try {
      helpers.emplace_back(part, index, first, count);
    } catch (const std::system_error&) {
      // No thread to be had: the rest is done here.
      part(index, first, rows - first);
      break;
    }
  }
  part(0, 0, std::min(perPart, rows));
  for (auto& helper : helpers) helper.join();
}

struct ManagedConversion::Impl {
  ColorManagement settings;
  std::optional<OutputProfile> output;
  LcmsContext context;
  std::optional<WorkingSpace> working;

  PageTransform link(cmsHPROFILE source, int components) {
    Transform transform = makeColorTransform(context, source, output->profile(), settings,
                                             components == 1 ? kGray16 : kRgb16, kRgb16);
    auto impl = std::make_unique<PageTransform::Impl>();
    impl->transform = std::move(transform);
    return PageTransform(std::move(impl), components);
  }
};

ManagedConversion::ManagedConversion(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ManagedConversion::ManagedConversion(ManagedConversion&&) noexcept = default;
ManagedConversion& ManagedConversion::operator=(ManagedConversion&&) noexcept = default;
ManagedConversion::~ManagedConversion() = default;

ManagedConversion ManagedConversion::open(const ColorManagement& settings) {
  auto impl = std::make_unique<Impl>();
  impl->settings = settings;
  impl->output.emplace(
      CatalogProfile::load(settings.profilePath.value_or(""), true).output(settings.profileId));
  return ManagedConversion(std::move(impl));
}

const ProfileSummary& ManagedConversion::outputSummary() const { return impl_->output->summary(); }
const std::string& ManagedConversion::outputIcc() const { return impl_->output->data(); }
const std::string& ManagedConversion::outputId() const { return impl_->output->id(); }

void ManagedConversion::prepareWorkingSpace() {
  impl_->working.emplace(workingRGB(impl_->context));
}

const std::string& ManagedConversion::workingIcc() const {
  static const std::string none;
  return impl_->working ? impl_->working->iccBytes : none;
}

PageTransform ManagedConversion::transformFromWorkingSpace() const {
  if (!impl_->working) {
    throw PrintFailure("The macOS wide-gamut working color profile is unavailable.");
  }
  return impl_->link(impl_->working->profile.get(), 4);
}

PageTransform ManagedConversion::transformFrom(const SourceColorSpace& source) const {
  const ColorModel model = source.model == ColorModel::indexed ? source.baseModel : source.model;
  if (model != ColorModel::gray && model != ColorModel::rgb)
    throw PrintFailure(kUnsupportedPngSource);
  if (source.icc.empty()) {
    // Samples without a space of their own are read in the working space, which is RGB.
    if (model != ColorModel::rgb) throw PrintFailure(kUnsupportedPngSource);
    return transformFromWorkingSpace();
  }
  Profile profile(cmsOpenProfileFromMemTHR(impl_->context.get(), source.icc.data(),
                                           static_cast<cmsUInt32Number>(source.icc.size())));
  if (!profile || !sourceProfileUsable(profile.get(), model)) {
    throw PrintFailure(kUnsupportedPngSource);
  }
  return impl_->link(profile.get(), model == ColorModel::gray ? 1 : 4);
}

}  // namespace vardelle::color
