#include "testing/icc_fixtures.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "color/lcms.h"

namespace vardelle::testing {

namespace {

using color::LcmsContext;
using color::Profile;
using color::ToneCurve;
using color::Transform;

struct MluFreer {
  void operator()(cmsMLU* m) const noexcept { cmsMLUfree(m); }
};
struct PipelineFreer {
  void operator()(cmsPipeline* p) const noexcept { cmsPipelineFree(p); }
};
using Pipeline = std::unique_ptr<cmsPipeline, PipelineFreer>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("ICC fixture: ") + what);
}

cmsTagSignature tagSignature(std::string_view four) {
  std::uint32_t v = 0;
  for (char c : four.substr(0, 4)) v = v * 256 + static_cast<unsigned char>(c);
  return static_cast<cmsTagSignature>(v);
}

/// The code points of UTF-8 text, or nothing when it is plain ASCII or not UTF-8.
std::optional<std::wstring> wideText(const std::string& text) {
  std::wstring wide;
  bool ascii = true;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = lead < 0x80    ? 0
                        : lead >= 0xF0 ? 3
                        : lead >= 0xE0 ? 2
                        : lead >= 0xC0 ? 1
                                       : 9;
    if (extra == 9 || text.size() - i <= extra) return std::nullopt;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    ascii = ascii && extra == 0;
    wide += static_cast<wchar_t>(c);
    i += extra + 1;
  }
  if (ascii) return std::nullopt;
  return wide;
}

/// UTF-8 text is stored as Unicode; anything else byte for byte.
void describe(const LcmsContext& context, cmsHPROFILE profile, const std::string& text) {
  std::unique_ptr<cmsMLU, MluFreer> mlu(cmsMLUalloc(context.get(), 1));
  require(mlu != nullptr, "description");
  auto wide = wideText(text);
  require(wide ? cmsMLUsetWide(mlu.get(), "en", "US", wide->c_str())
               : cmsMLUsetASCII(mlu.get(), "en", "US", text.c_str()),
          "description text");
  require(cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu.get()), "description tag");
}

std::string bytesOf(cmsHPROFILE profile) {
  std::vector<unsigned char> bytes = color::profileBytes(profile);
  require(!bytes.empty(), "save");
  return std::string(bytes.begin(), bytes.end());
}

int sampleThroughTransform(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  cmsDoTransform(cargo, in, out, 1);
  return TRUE;
}

/// Identity curves tabulated with 256 entries, as profiling tools write them (and as a version 2
/// lut16Type stores them).
cmsStage* identityCurves(const LcmsContext& context, unsigned channels) {
  cmsUInt16Number table[256];
  for (unsigned i = 0; i < 256; ++i) table[i] = static_cast<cmsUInt16Number>(i * 257);
  ToneCurve curve(cmsBuildTabulatedToneCurve16(context.get(), 256, table));
  if (!curve) return nullptr;
  std::vector<cmsToneCurve*> curves(channels, curve.get());
  return cmsStageAllocToneCurves(context.get(), channels, curves.data());
}

/// identity curves → CLUT sampled by `sampler` → identity curves: the shape every LUT tag type
/// can store.
Pipeline sampledPipeline(const LcmsContext& context, unsigned gridPoints, unsigned inputs,
                         unsigned outputs, cmsSAMPLER16 sampler, void* cargo) {
  Pipeline pipeline(cmsPipelineAlloc(context.get(), inputs, outputs));
  require(pipeline != nullptr, "pipeline");
  cmsStage* before = identityCurves(context, inputs);
  cmsStage* clut = cmsStageAllocCLut16bit(context.get(), gridPoints, inputs, outputs, nullptr);
  cmsStage* after = identityCurves(context, outputs);
  bool staged = before && clut && after && cmsStageSampleCLut16bit(clut, sampler, cargo, 0);
  // Stages inserted into the pipeline are freed with it; the rest here.
  if (!staged) {
    for (cmsStage* s : {before, clut, after}) {
      if (s) cmsStageFree(s);
    }
    require(false, "stages");
  }
  require(cmsPipelineInsertStage(pipeline.get(), cmsAT_END, before) &&
              cmsPipelineInsertStage(pipeline.get(), cmsAT_END, clut) &&
              cmsPipelineInsertStage(pipeline.get(), cmsAT_END, after),
          "insert");
  return pipeline;
}

/// A printer profile with a Lab connection space; version 2, so that its tables are written as
/// lut16Type, the form most printer profiles in use have.
Profile lutProfilePlaceholder(const LcmsContext& context, cmsColorSpaceSignature space,
                              const std::string& description) {
  Profile profile(cmsCreateProfilePlaceholder(context.get()));
  require(profile != nullptr, "placeholder");
  cmsSetProfileVersion(profile.get(), 2.4);
  cmsSetDeviceClass(profile.get(), cmsSigOutputClass);
  cmsSetColorSpace(profile.get(), space);
  cmsSetPCS(profile.get(), cmsSigLabData);
  describe(context, profile.get(), description);
  require(cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ()), "white point");
  return profile;
}

}  // namespace

void putUint32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) {
    bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
}

void putSignature(std::string& bytes, std::size_t offset, std::string_view fourBytes) {
  bytes.replace(offset, 4, fourBytes.substr(0, 4));
}

std::string makeMatrixShaperRgbProfile(const std::string& description,
                                       std::string_view classSignature) {
  LcmsContext context;
  const cmsCIExyYTRIPLE primaries = {
      {0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
  ToneCurve gamma(cmsBuildGamma(context.get(), 2.2));
  require(gamma != nullptr, "gamma");
  cmsToneCurve* curves[3] = {gamma.get(), gamma.get(), gamma.get()};
  Profile profile(cmsCreateRGBProfileTHR(context.get(), cmsD50_xyY(), &primaries, curves));
  require(profile != nullptr, "RGB profile");
  cmsSetDeviceClass(profile.get(),
                    static_cast<cmsProfileClassSignature>(tagSignature(classSignature)));
  describe(context, profile.get(), description);
  return bytesOf(profile.get());
}

std::string makeLutRgbPrinterProfile(const std::string& description, unsigned gridPoints,
                                     bool allIntents) {
  LcmsContext context;
  Profile profile = lutProfilePlaceholder(context, cmsSigRgbData, description);
  Profile srgb(cmsCreate_sRGBProfileTHR(context.get()));
  Profile lab(cmsCreateLab4ProfileTHR(context.get(), nullptr));
  require(srgb && lab, "sRGB and Lab");
  Transform toLab(cmsCreateTransformTHR(context.get(), srgb.get(), TYPE_RGB_16, lab.get(),
                                        TYPE_Lab_16, INTENT_PERCEPTUAL, 0));
  Transform fromLab(cmsCreateTransformTHR(context.get(), lab.get(), TYPE_Lab_16, srgb.get(),
                                          TYPE_RGB_16, INTENT_PERCEPTUAL, 0));
  require(toLab && fromLab, "sampling transforms");
  Pipeline aToB = sampledPipeline(context, gridPoints, 3, 3, sampleThroughTransform, toLab.get());
  Pipeline bToA = sampledPipeline(context, gridPoints, 3, 3, sampleThroughTransform, fromLab.get());
  const cmsTagSignature forward[] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag};
  const cmsTagSignature backward[] = {cmsSigBToA0Tag, cmsSigBToA1Tag, cmsSigBToA2Tag};
  for (int intent = 0; intent < (allIntents ? 3 : 1); ++intent) {
    require(cmsWriteTag(profile.get(), forward[intent], aToB.get()) &&
                cmsWriteTag(profile.get(), backward[intent], bToA.get()),
            "tables");
  }
  return bytesOf(profile.get());
}

namespace {

/// The colorimetry of makeSmallGamutPrinterProfile: sRGB through Lab, compressed.
struct SmallGamut {
  PrinterGamut gamut;
  Transform toLab;    // sRGB doubles 0…1 → Lab doubles
  Transform fromLab;  // Lab doubles → sRGB doubles (not clipped)

  static int forward(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const auto& self = *static_cast<const SmallGamut*>(cargo);
    const double rgb[3] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0};
    cmsCIELab lab;
    cmsDoTransform(self.toLab.get(), rgb, &lab, 1);
    lab.L = self.gamut.blackL + lab.L * (100 - self.gamut.blackL) / 100;
    lab.a *= self.gamut.chroma;
    lab.b *= self.gamut.chroma;
    cmsFloat2LabEncodedV2(out, &lab);
    return TRUE;
  }

  static int backward(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const auto& self = *static_cast<const SmallGamut*>(cargo);
    cmsCIELab lab;
    cmsLabEncoded2FloatV2(&lab, in);
    lab.L = std::clamp((lab.L - self.gamut.blackL) * 100 / (100 - self.gamut.blackL), 0.0, 100.0);
    lab.a /= self.gamut.chroma;
    lab.b /= self.gamut.chroma;
    double rgb[3];
    cmsDoTransform(self.fromLab.get(), &lab, rgb, 1);
    for (int c = 0; c < 3; ++c) {
      // Beyond sRGB the engine's curves may give NaN as well as values outside 0…1.
      const double v = rgb[c] > 0 ? std::min(rgb[c], 1.0) : 0.0;
      out[c] = static_cast<cmsUInt16Number>(std::lround(v * 65535));
    }
    return TRUE;
  }
};

}  // namespace

std::string makeSmallGamutPrinterProfile(const std::string& description, unsigned gridPoints,
                                         const PrinterGamut& gamut) {
  LcmsContext context;
  Profile profile = lutProfilePlaceholder(context, cmsSigRgbData, description);
  const cmsCIELab paperLab = {gamut.paperL, gamut.paperA, gamut.paperB};
  cmsCIEXYZ paper;
  cmsLab2XYZ(cmsD50_XYZ(), &paper, &paperLab);
  require(cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, &paper), "white point");
  Profile srgb(cmsCreate_sRGBProfileTHR(context.get()));
  Profile lab(cmsCreateLab4ProfileTHR(context.get(), nullptr));
  require(srgb && lab, "sRGB and Lab");
  SmallGamut colorimetry{gamut, {}, {}};
  colorimetry.toLab.reset(cmsCreateTransformTHR(context.get(), srgb.get(), TYPE_RGB_DBL, lab.get(),
                                                TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  colorimetry.fromLab.reset(cmsCreateTransformTHR(context.get(), lab.get(), TYPE_Lab_DBL,
                                                  srgb.get(), TYPE_RGB_DBL,
                                                  INTENT_RELATIVE_COLORIMETRIC, 0));
  require(colorimetry.toLab && colorimetry.fromLab, "sampling transforms");
  Pipeline aToB = sampledPipeline(context, gridPoints, 3, 3, &SmallGamut::forward, &colorimetry);
  Pipeline bToA = sampledPipeline(context, gridPoints, 3, 3, &SmallGamut::backward, &colorimetry);
  const cmsTagSignature forward[] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag};
  const cmsTagSignature backward[] = {cmsSigBToA0Tag, cmsSigBToA1Tag, cmsSigBToA2Tag};
  for (int intent = 0; intent < 3; ++intent) {
    require(cmsWriteTag(profile.get(), forward[intent], aToB.get()) &&
                cmsWriteTag(profile.get(), backward[intent], bToA.get()),
            "tables");
  }
  return bytesOf(profile.get());
}

std::string makeCmykPrinterProfile(const std::string& description) {
  LcmsContext context;
  Profile profile = lutProfilePlaceholder(context, cmsSigCmykData, description);
  auto inkToLab = [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> int {
    unsigned ink = (in[0] + in[1] + in[2] + 3u * in[3]) / 6u;
    out[0] = static_cast<cmsUInt16Number>(0xFFFF - ink);
    out[1] = out[2] = 0x8080;
    return TRUE;
  };
  auto labToInk = [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> int {
    out[0] = out[1] = out[2] = 0;
    out[3] = static_cast<cmsUInt16Number>(0xFFFF - in[0]);
    return TRUE;
  };
  Pipeline aToB = sampledPipeline(context, 5, 4, 3, inkToLab, nullptr);
  Pipeline bToA = sampledPipeline(context, 5, 3, 4, labToInk, nullptr);
  require(cmsWriteTag(profile.get(), cmsSigAToB0Tag, aToB.get()) &&
              cmsWriteTag(profile.get(), cmsSigBToA0Tag, bToA.get()),
          "tables");
  return bytesOf(profile.get());
}

std::string makeRgbDeviceLink(const std::string& description) {
  LcmsContext context;
  ToneCurve gamma(cmsBuildGamma(context.get(), 1.2));
  require(gamma != nullptr, "gamma");
  cmsToneCurve* curves[3] = {gamma.get(), gamma.get(), gamma.get()};
  Profile profile(cmsCreateLinearizationDeviceLinkTHR(context.get(), cmsSigRgbData, curves));
  require(profile != nullptr, "device link");
  describe(context, profile.get(), description);
  return bytesOf(profile.get());
}

std::string makeLabAbstractProfile(const std::string& description) {
  LcmsContext context;
  Profile profile(
      cmsCreateBCHSWabstractProfileTHR(context.get(), 9, 5.0, 1.1, 0.0, 1.0, 5000, 5000));
  require(profile != nullptr, "abstract profile");
  describe(context, profile.get(), description);
  return bytesOf(profile.get());
}

std::string paddedProfile(std::string profile, std::size_t size) {
  require(size >= profile.size() && size <= 0xFFFFFFFFu, "padding size");
  profile.resize(size, '\0');
  putUint32(profile, 0, static_cast<std::uint32_t>(size));
  return profile;
}

std::string withDamagedTag(std::string profile, std::string_view tagSignature) {
  auto read = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v * 256 + static_cast<unsigned char>(profile[at + i]);
    return v;
  };
  const std::uint32_t count = read(128);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 132 + 12 * static_cast<std::size_t>(i);
    if (profile.compare(entry, 4, tagSignature) == 0) {
      putSignature(profile, read(entry + 4), "junk");
      return profile;
    }
  }
  require(false, "tag to damage not found");
  return profile;
}

std::string makeRawProfile(std::size_t totalSize, const std::vector<RawTagEntry>& entries,
                           std::optional<std::uint32_t> tagCount) {
  require(totalSize >= 132 && totalSize >= 132 + 12 * entries.size(), "raw profile size");
  std::string bytes(totalSize, '\0');
  putUint32(bytes, 0, static_cast<std::uint32_t>(totalSize));
  putSignature(bytes, 12, "mntr");
  putSignature(bytes, 16, "RGB ");
  putSignature(bytes, 20, "XYZ ");
  putSignature(bytes, 36, "acsp");
  putUint32(bytes, 128, tagCount.value_or(static_cast<std::uint32_t>(entries.size())));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    putSignature(bytes, 132 + 12 * i, "tst0");
    putUint32(bytes, 136 + 12 * i, entries[i].offset);
    putUint32(bytes, 140 + 12 * i, entries[i].size);
  }
  return bytes;
}

}  // namespace vardelle::testing
