#include "color/managed_conversion.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "base/print_failure.h"
#include "base/worker_threads.h"
#include "color/catalog_profile.h"
#include "color/lcms.h"
#include "color/output_profile.h"
#include "color/proof_transforms.h"

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

namespace {

// Pixels staged at a time: the staging stays small whatever the width.
constexpr std::uint32_t kSegmentPixels = 8192;
// The least a conversion thread is started for: about a millisecond of the engine's work, many
// times what starting the thread and filling its memo cost.
constexpr std::size_t kPixelsPerWorker = 256 * 1024;

/// What a soft proof adds to a page's conversion: the gamut check of every source value and,
/// with the warning on, the warning colour in place of the proof's.
struct GamutMarks {
  cmsHTRANSFORM check = nullptr;  // one word out: non-zero where out of gamut
  bool paint = false;
  std::uint16_t warning[3] = {};
};

/// Remembers the converted value of recently seen source values. A photograph repeats its colours
/// (the 24-megapixel benchmark photograph has 24,567 of them), and a lookup costs a fraction of
/// the engine's 16-bit interpolation through a printer profile's tables. The engine's result is a
/// function of the source value alone, so a remembered value is exactly the one it would give
/// again. Sources that hardly repeat (noise) are sent straight to the engine after a trial.
/// With gamut marks it also counts the pixels it converted that are out of gamut.
class ConversionMemo {
 public:
  ConversionMemo(cmsHTRANSFORM transform, int words, const GamutMarks* marks)
      : transform_(transform), marks_(marks), words_(words), entries_(std::size_t(1) << kBits) {
    missed_.resize(std::size_t(kSegmentPixels) * 3);
    converted_.resize(std::size_t(kSegmentPixels) * 3);
    flags_.resize(kSegmentPixels);
    where_.resize(kSegmentPixels);
    staging_.resize(std::size_t(kSegmentPixels) * 3);
    // Every entry starts as the value of black, so a lookup never needs an "empty" mark.
    Entry black{};
    engine(black.key, black.value, 1);
    black.outside = flags_[0] != 0;
    std::fill(entries_.begin(), entries_.end(), black);
  }

  /// Room for kSegmentPixels packed pixels.
  std::uint16_t* staging() { return staging_.data(); }

  /// Converts `n` (at most kSegmentPixels) packed pixels of `words` words each to 3 words each.
  void convert(const std::uint16_t* in, std::uint16_t* out, std::uint32_t n) {
    convertedTotal_ += n;
    if (!remembering_) {
      engine(in, out, n);
      for (std::uint32_t x = 0; x < n; ++x) outside_ += flags_[x] != 0;
      return;
    }
    std::uint32_t misses = 0;
    for (std::uint32_t x = 0; x < n; ++x, in += words_, out += 3) {
      const std::uint16_t k0 = in[0], k1 = words_ == 3 ? in[1] : 0, k2 = words_ == 3 ? in[2] : 0;
      const Entry& e = entries_[slot(k0, k1, k2)];
      if (e.key[0] == k0 && e.key[1] == k1 && e.key[2] == k2) {
        out[0] = e.value[0];
        out[1] = e.value[1];
        out[2] = e.value[2];
        outside_ += e.outside;
        continue;
      }
      for (int w = 0; w < words_; ++w) missed_[std::size_t(misses) * words_ + w] = in[w];
      where_[misses++] = out;
    }
    if (misses > 0) engine(missed_.data(), converted_.data(), misses);
    for (std::uint32_t m = 0; m < misses; ++m) {
      const std::uint16_t* key = missed_.data() + std::size_t(m) * words_;
      const std::uint16_t* value = converted_.data() + std::size_t(m) * 3;
      std::copy(value, value + 3, where_[m]);
      Entry& e = entries_[slot(key[0], words_ == 3 ? key[1] : 0, words_ == 3 ? key[2] : 0)];
      e.key[0] = key[0];
      e.key[1] = words_ == 3 ? key[1] : 0;
      e.key[2] = words_ == 3 ? key[2] : 0;
      std::copy(value, value + 3, e.value);
      e.outside = flags_[m] != 0;
      outside_ += e.outside;
    }
    looked_ += n;
    missedTotal_ += misses;
    if (looked_ >= kTrialPixels && missedTotal_ * 4 > looked_ * 3) remembering_ = false;
  }

  /// Pixels converted since the last call and how many of them are out of gamut; starts both
  /// counts again.
  std::pair<std::uint64_t, std::uint64_t> takeCounts() {
    const std::pair<std::uint64_t, std::uint64_t> counts{convertedTotal_, outside_};
    convertedTotal_ = outside_ = 0;
    return counts;
  }

 private:
  static constexpr int kBits = 16;
  static constexpr std::uint64_t kTrialPixels = 1 << 18;
  struct Entry {
    std::uint16_t key[3];
    std::uint16_t value[3];
    std::uint16_t outside;
  };
  static std::size_t slot(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2) {
    return ((k0 * 0x9E3779B1u) ^ (k1 * 0x85EBCA77u) ^ (k2 * 0xC2B2AE3Du)) >> (32 - kBits);
  }

  // Converts `n` packed values and, with marks, leaves their gamut check in flags_ and paints
  // the warning; without, flags_ stays all zero.
  void engine(const std::uint16_t* in, std::uint16_t* out, std::uint32_t n) {
    cmsDoTransform(transform_, in, out, n);
    if (!marks_) return;
    cmsDoTransform(marks_->check, in, flags_.data(), n);
    if (!marks_->paint) return;
    for (std::uint32_t x = 0; x < n; ++x) {
      if (flags_[x] != 0) std::copy(marks_->warning, marks_->warning + 3, out + 3 * x);
    }
  }

  cmsHTRANSFORM transform_;
  const GamutMarks* marks_;
  int words_;
  std::vector<Entry> entries_;
  std::vector<std::uint16_t> missed_;
  std::vector<std::uint16_t> converted_;
  std::vector<std::uint16_t> flags_;
  std::vector<std::uint16_t*> where_;
  std::vector<std::uint16_t> staging_;
  bool remembering_ = true;
  std::uint64_t looked_ = 0;
  std::uint64_t missedTotal_ = 0;
  std::uint64_t convertedTotal_ = 0;
  std::uint64_t outside_ = 0;
};

/// Converts rows through packed 3-word RGB (or 1-word grey) formats, staging RGBX source rows:
/// lcms2 has fast paths for those, while a skipped fourth word sends every pixel through its
/// generic formatters (about 40 % slower). The values are the same, since formatters only move
/// words.
void convertRows(ConversionMemo& memo, int components, const std::uint16_t* source,
                 std::size_t sourceRowWords, std::uint16_t* destination,
                 std::size_t destinationRowWords, std::uint32_t width, std::uint32_t rows) {
  std::uint16_t* staging = memo.staging();
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
      memo.convert(packed, out, n);
    }
  }
}

}  // namespace

struct PageTransform::Impl {
  Transform transform;
  // A soft proof's instead (shared by the pages of one source), its marks and where they count.
  std::shared_ptr<const ProofTransforms> proof;
  std::optional<GamutMarks> marks;
  std::shared_ptr<GamutTally> tally;
  // Memos kept between calls: a band at a time, a page repeats the colours of the band before.
  std::mutex lock;
  std::vector<std::unique_ptr<ConversionMemo>> idle;  // guarded by lock

  std::unique_ptr<ConversionMemo> makeMemo(int components) const {
    return std::make_unique<ConversionMemo>(proof ? proof->picture.get() : transform.get(),
                                            components == 1 ? 1 : 3, marks ? &*marks : nullptr);
  }
  void count(ConversionMemo& memo) const {
    const auto [pixels, outside] = memo.takeCounts();
    if (tally) tally->add(pixels, outside);
  }

  std::unique_ptr<ConversionMemo> takeMemo(int components) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!idle.empty()) {
        std::unique_ptr<ConversionMemo> memo = std::move(idle.back());
        idle.pop_back();
        return memo;
      }
    }
    return makeMemo(components);
  }
  void giveBack(std::vector<std::unique_ptr<ConversionMemo>>& memos) {
    for (auto& memo : memos) count(*memo);
    std::lock_guard<std::mutex> guard(lock);
    for (auto& memo : memos) idle.push_back(std::move(memo));
  }
};

PageTransform::PageTransform(std::unique_ptr<Impl> impl, int components)
    : impl_(std::move(impl)), components_(components) {}
PageTransform::PageTransform(PageTransform&&) noexcept = default;
PageTransform& PageTransform::operator=(PageTransform&&) noexcept = default;
PageTransform::~PageTransform() = default;

void PageTransform::convertOnThisThread(const std::uint16_t* source, std::size_t sourceRowWords,
                                        std::uint16_t* destination, std::size_t destinationRowWords,
                                        std::uint32_t width, std::uint32_t rows) const {
  if (width == 0 || rows == 0) return;
  // A memo of its own: the reference does not share what the threaded path remembers.
  const std::unique_ptr<ConversionMemo> memo = impl_->makeMemo(components_);
  convertRows(*memo, components_, source, sourceRowWords, destination, destinationRowWords, width,
              rows);
  impl_->count(*memo);
}

void PageTransform::convert(const std::uint16_t* source, std::size_t sourceRowWords,
                            std::uint16_t* destination, std::size_t destinationRowWords,
                            std::uint32_t width, std::uint32_t rows) const {
  if (width == 0 || rows == 0) return;
  // A transform's pixel cache is copied for each call, so disjoint rows on several threads give
  // exactly the single-threaded result. Each part is worth a thread's start and its memo.
  const std::uint32_t parts =
      std::min<std::uint32_t>(rows, workerCount(std::size_t(width) * rows, kPixelsPerWorker));
  const std::uint32_t perPart = (rows + parts - 1) / parts;
  // Each part remembers its own values; all are made before any thread starts.
  std::vector<std::unique_ptr<ConversionMemo>> memos;
  memos.reserve(parts);
  for (std::uint32_t i = 0; i < parts; ++i) memos.push_back(impl_->takeMemo(components_));
  auto part = [&](std::uint32_t index, std::uint32_t first, std::uint32_t count) {
    convertRows(*memos[index], components_, source + first * sourceRowWords, sourceRowWords,
                destination + first * destinationRowWords, destinationRowWords, width, count);
  };
  // Started helpers are joined however this ends (WorkerThread's destructor), so none outlives
  // the rows it writes.
  std::vector<WorkerThread> helpers;
  helpers.reserve(parts);
  std::uint32_t index = 1;
  std::uint32_t first = perPart;  // the calling thread takes the first part
  for (; first < rows; first += perPart, ++index) {
    const std::uint32_t count = std::min(perPart, rows - first);
    WorkerThread helper =
        WorkerThread::start([&part, index, first, count] { part(index, first, count); });
    if (!helper.started()) {
      // No thread to be had: the rest is done here.
      part(index, first, rows - first);
      break;
    }
    helpers.push_back(std::move(helper));
  }
  part(0, 0, std::min(perPart, rows));
  for (WorkerThread& helper : helpers) helper.join();
  impl_->giveBack(memos);
}

struct ManagedConversion::Impl {
  ColorManagement settings;
  std::optional<OutputProfile> output;
  LcmsContext context;
  std::optional<WorkingSpace> working;
  // The proof from the working space, made once for every page drawn in it: building a proof
  // samples the printer's gamut, which costs far more than a page's conversion link.
  std::shared_ptr<const ProofTransforms> workingProof;
  bool workingProofPaperWhite = false;

  PageTransform link(cmsHPROFILE source, int components, const ProofView* proof) {
    const cmsUInt32Number sourceFormat = components == 1 ? kGray16 : kRgb16;
    auto impl = std::make_unique<PageTransform::Impl>();
    if (!proof) {
      impl->transform =
          makeColorTransform(context, source, output->profile(), settings, sourceFormat, kRgb16);
      return PageTransform(std::move(impl), components);
    }
    const bool fromWorkingSpace = working && source == working->profile.get();
    if (fromWorkingSpace && workingProof && workingProofPaperWhite == proof->paperWhite) {
      impl->proof = workingProof;
    } else {
      impl->proof = std::make_shared<const ProofTransforms>(makeProofTransforms(
          source, sourceFormat, output->profile(), settings, proof->paperWhite));
      if (fromWorkingSpace) {
        workingProof = impl->proof;
        workingProofPaperWhite = proof->paperWhite;
      }
    }
    GamutMarks& marks = impl->marks.emplace();
    marks.check = impl->proof->gamutCheck.get();
    marks.paint = proof->gamutWarning;
    for (int c = 0; c < 3; ++c) marks.warning[c] = std::uint16_t(proof->warningRgb[c] * 257u);
    impl->tally = proof->tally;
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
  impl_->workingProof.reset();
  impl_->working.emplace(workingRGB(impl_->context));
}

const std::string& ManagedConversion::workingIcc() const {
  static const std::string none;
  return impl_->working ? impl_->working->iccBytes : none;
}

PageTransform ManagedConversion::transformFromWorkingSpace(const ProofView* proof) const {
  if (!impl_->working) {
    throw PrintFailure("The macOS wide-gamut working color profile is unavailable.");
  }
  return impl_->link(impl_->working->profile.get(), 4, proof);
}

std::array<std::uint8_t, 3> ManagedConversion::proofPaper(bool paperWhite) const {
  return proofPaperRgb(impl_->output->profile(), paperWhite);
}

PageTransform ManagedConversion::transformFrom(const SourceColorSpace& source,
                                               const ProofView* proof) const {
  const ColorModel model = source.model == ColorModel::indexed ? source.baseModel : source.model;
  if (model != ColorModel::gray && model != ColorModel::rgb)
    throw PrintFailure(kUnsupportedPngSource);
  if (source.icc.empty()) {
    // Samples without a space of their own are read in the working space, which is RGB.
    if (model != ColorModel::rgb) throw PrintFailure(kUnsupportedPngSource);
    return transformFromWorkingSpace(proof);
  }
  Profile profile(cmsOpenProfileFromMemTHR(impl_->context.get(), source.icc.data(),
                                           static_cast<cmsUInt32Number>(source.icc.size())));
  if (!profile || !sourceProfileUsable(profile.get(), model)) {
    throw PrintFailure(kUnsupportedPngSource);
  }
  return impl_->link(profile.get(), model == ColorModel::gray ? 1 : 4, proof);
}

}  // namespace vardelle::color
