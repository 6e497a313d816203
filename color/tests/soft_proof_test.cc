// A soft proof must be LittleCMS's own proofing transform of the same colours, with what the
// printer cannot reproduce marked and counted exactly where the engine's gamut check says so.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "color/lcms.h"
#include "color/managed_conversion.h"
#include "color/output_profile.h"
#include "color/png_source_color.h"
#include "color/soft_proof.h"
#include "testing/icc_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::color {
namespace {

using Rgb8 = std::array<int, 3>;

/// Flat patches in sRGB: paper white, ink black, greys and muted colours the small printer
/// reaches, and saturated ones it does not.
const std::vector<Rgb8> kPatches = {
    {255, 255, 255}, {0, 0, 0},     {128, 128, 128}, {200, 180, 160}, {90, 110, 130},
    {150, 120, 100}, {255, 0, 0},   {0, 255, 0},     {0, 0, 255},     {255, 0, 255},
    {0, 255, 255},   {255, 255, 0}, {230, 40, 20},   {60, 200, 90},   {180, 180, 60},
};

struct Printer {
  vardelle::testing::TempDir dir;
  std::string bytes = vardelle::testing::makeSmallGamutPrinterProfile("Small Printer", 17);
  std::string path = dir.write("printer.icc", bytes);

  ColorManagement settings(const std::string& intent, bool bpc) const {
    ColorManagement s;
    s.mode = "application";
    s.profilePath = path;
    s.profileId = profileId(bytes);
    s.renderingIntent = intent;
    s.blackPointCompensation = bpc;
    s.driverColorManagementDisabled = true;
    return s;
  }
};

ProofView view(bool paperWhite, bool gamutWarning, Rgb8 warning = {128, 128, 128}) {
  ProofView v;
  v.paperWhite = paperWhite;
  v.gamutWarning = gamutWarning;
  for (int c = 0; c < 3; ++c) v.warningRgb[c] = std::uint8_t(warning[c]);
  v.tally = std::make_shared<GamutTally>();
  return v;
}

/// The patches as 16-bit RGBX, one pixel each.
std::vector<std::uint16_t> rgbx(const std::vector<Rgb8>& patches) {
  std::vector<std::uint16_t> words;
  for (const Rgb8& p : patches) {
    for (int c = 0; c < 3; ++c) words.push_back(std::uint16_t(p[c] * 257));
    words.push_back(65535);
  }
  return words;
}

/// The proof of the patches through `transform`, each reduced to 8 bits.
std::vector<Rgb8> proofOf(const PageTransform& transform, const std::vector<Rgb8>& patches) {
  const std::vector<std::uint16_t> in = rgbx(patches);
  std::vector<std::uint16_t> out(patches.size() * 3);
  const auto width = std::uint32_t(patches.size());
  transform.convertOnThisThread(in.data(), width * 4, out.data(), width * 3, width, 1);
  std::vector<Rgb8> result;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    Rgb8 rgb;
    for (int c = 0; c < 3; ++c) rgb[c] = int((out[3 * i + c] * 255u + 32767u) / 65535u);
    result.push_back(rgb);
  }
  return result;
}

/// LittleCMS's proofing of the 8-bit patches from sRGB to sRGB through the printer, as
/// `tificc -p printer -t<intent> -m<1|3> [-g] [-b]` makes it, with `alarm` marking what is out
/// of gamut when given.
std::vector<Rgb8> engineProof(const std::string& printer, cmsUInt32Number intent, bool bpc,
                              bool paperWhite, const std::optional<Rgb8>& alarm,
                              const std::vector<Rgb8>& patches) {
  LcmsContext context;
  cmsUInt16Number codes[cmsMAXCHANNELS] = {};
  if (alarm) {
    for (int c = 0; c < 3; ++c) codes[c] = cmsUInt16Number((*alarm)[c] * 257);
  }
  cmsSetAlarmCodesTHR(context.get(), codes);
  const SourceColorSpace source = standardSRGB();
  Profile in(cmsOpenProfileFromMemTHR(context.get(), source.icc.data(),
                                      cmsUInt32Number(source.icc.size())));
  Profile out(cmsCreate_sRGBProfileTHR(context.get()));
  Profile proof(
      cmsOpenProfileFromMemTHR(context.get(), printer.data(), cmsUInt32Number(printer.size())));
  cmsUInt32Number flags = cmsFLAGS_SOFTPROOFING | (alarm ? cmsFLAGS_GAMUTCHECK : 0) |
                          (bpc ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0);
  Transform t(cmsCreateProofingTransformTHR(
      context.get(), in.get(), TYPE_RGB_8, out.get(), TYPE_RGB_8, proof.get(), intent,
      paperWhite ? INTENT_ABSOLUTE_COLORIMETRIC : INTENT_RELATIVE_COLORIMETRIC, flags));
  EXPECT_TRUE(t);
  std::vector<unsigned char> bytes, result(patches.size() * 3);
  for (const Rgb8& p : patches) bytes.insert(bytes.end(), p.begin(), p.end());
  cmsDoTransform(t.get(), bytes.data(), result.data(), cmsUInt32Number(patches.size()));
  std::vector<Rgb8> rgb;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    rgb.push_back({result[3 * i], result[3 * i + 1], result[3 * i + 2]});
  }
  return rgb;
}

/// Which patches the engine's gamut check marks: those whose proof changes with the alarm
/// colour. (A patch whose in-gamut proof happened to equal one alarm colour cannot equal both.)
std::vector<bool> engineMarks(const std::string& printer, cmsUInt32Number intent, bool bpc,
                              const std::vector<Rgb8>& patches) {
  const auto a = engineProof(printer, intent, bpc, false, Rgb8{1, 2, 3}, patches);
  const auto b = engineProof(printer, intent, bpc, false, Rgb8{250, 251, 252}, patches);
  std::vector<bool> marks;
  for (std::size_t i = 0; i < patches.size(); ++i) marks.push_back(a[i] != b[i]);
  return marks;
}

int largestDifference(const Rgb8& a, const Rgb8& b) {
  int most = 0;
  for (int c = 0; c < 3; ++c) most = std::max(most, std::abs(a[c] - b[c]));
  return most;
}

struct Case {
  const char* intent;
  cmsUInt32Number engineIntent;
  bool bpc;
};
const Case kCases[] = {{"perceptual", INTENT_PERCEPTUAL, true},
                       {"relativeColorimetric", INTENT_RELATIVE_COLORIMETRIC, false},
                       {"absoluteColorimetric", INTENT_ABSOLUTE_COLORIMETRIC, false}};

TEST(SoftProof, FlatPatchesAgreeWithTheEnginesProofingTransform) {
  Printer printer;
  for (const Case& c : kCases) {
    for (bool paperWhite : {true, false}) {
      for (bool warning : {false, true}) {
        // Every combination for one intent; one for each of the others (a proof takes a while).
        if (c.engineIntent != INTENT_PERCEPTUAL && paperWhite == warning) continue;
        SCOPED_TRACE(std::string(c.intent) + (paperWhite ? ", paper white" : "") +
                     (warning ? ", gamut warning" : ""));
        auto conversion = ManagedConversion::open(printer.settings(c.intent, c.bpc));
        const ProofView v = view(paperWhite, warning, {20, 220, 20});
        const auto proof = proofOf(conversion.transformFrom(standardSRGB(), &v), kPatches);
        const auto engine =
            engineProof(printer.bytes, c.engineIntent, c.bpc, paperWhite,
                        warning ? std::optional<Rgb8>(Rgb8{20, 220, 20}) : std::nullopt, kPatches);
        for (std::size_t i = 0; i < kPatches.size(); ++i) {
          EXPECT_LE(largestDifference(proof[i], engine[i]), 3)
              << "patch " << i << ": " << proof[i][0] << "," << proof[i][1] << "," << proof[i][2]
              << " against " << engine[i][0] << "," << engine[i][1] << "," << engine[i][2];
        }
      }
    }
  }
}

TEST(SoftProof, PaperWhiteShowsThePapersTintAndTheInksBlack) {
  Printer printer;
  auto conversion = ManagedConversion::open(printer.settings("relativeColorimetric", false));
  const ProofView tinted = view(true, false), screen = view(false, false);
  const auto onPaper = proofOf(conversion.transformFrom(standardSRGB(), &tinted), kPatches);
  const auto onScreen = proofOf(conversion.transformFrom(standardSRGB(), &screen), kPatches);
  // The paper (L* 93, warm) is darker and yellower than the screen's white.
  EXPECT_EQ(onScreen[0], (Rgb8{255, 255, 255}));
  EXPECT_LT(onPaper[0][2], onPaper[0][0] - 5);
  EXPECT_LT(onPaper[0][0], 245);
  // Unprinted paper is the same colour as the artwork's white.
  const auto paper = conversion.proofPaper(true);
  EXPECT_LE(largestDifference({paper[0], paper[1], paper[2]}, onPaper[0]), 1);
  const auto screenPaper = conversion.proofPaper(false);
  EXPECT_EQ((Rgb8{screenPaper[0], screenPaper[1], screenPaper[2]}), onScreen[0]);
  // The ink's black (L* 12) is no screen black in either, since nothing compensates it.
  EXPECT_GT(onScreen[1][1], 20);
  EXPECT_GT(onPaper[1][1], 20);
}

TEST(SoftProof, MarksAndCountsExactlyWhatTheEnginesGamutCheckFinds) {
  Printer printer;
  for (const Case& c : {kCases[0], kCases[1]}) {
    SCOPED_TRACE(c.intent);
    const std::vector<bool> marked = engineMarks(printer.bytes, c.engineIntent, c.bpc, kPatches);
    std::size_t outside = 0;
    for (bool m : marked) outside += m;
    // The chart has colours on both sides of the printer's gamut.
    ASSERT_GT(outside, 3u);
    ASSERT_LT(outside, kPatches.size() - 3);
    EXPECT_FALSE(marked[2]);  // mid grey
    EXPECT_TRUE(marked[6]);   // sRGB red

    auto conversion = ManagedConversion::open(printer.settings(c.intent, c.bpc));
    // The warning colour is that of an in-gamut patch's proof: only the count can tell them
    // apart, and it must.
    const ProofView plain = view(false, false);
    const Rgb8 grey = proofOf(conversion.transformFrom(standardSRGB(), &plain), kPatches)[2];
    const ProofView v = view(false, true, grey);
    const auto proof = proofOf(conversion.transformFrom(standardSRGB(), &v), kPatches);
    for (std::size_t i = 0; i < kPatches.size(); ++i) {
      if (marked[i]) {
        EXPECT_EQ(proof[i], grey) << "patch " << i;
      }
    }
    EXPECT_EQ(v.tally->pixels(), kPatches.size());
    EXPECT_EQ(v.tally->outside(), outside);
  }
}

TEST(SoftProof, CountsTheSameWhetherOrNotTheWarningIsDrawnOnAnyNumberOfThreads) {
  Printer printer;
  auto conversion = ManagedConversion::open(printer.settings("perceptual", true));
  conversion.prepareWorkingSpace();
  // A photograph's repeats and a noise's none: both ways through the remembered values.
  const std::uint32_t width = 257, rows = 120;
  std::vector<std::uint16_t> in(std::size_t(width) * rows * 4);
  std::mt19937 random(11);
  std::uniform_int_distribution<int> value(0, 65535), few(0, 7);
  for (std::uint32_t y = 0; y < rows; ++y) {
    for (std::uint32_t x = 0; x < width * 4; ++x) {
      in[std::size_t(y) * width * 4 + x] =
          std::uint16_t(y < rows / 2 ? few(random) * 9362 : value(random));
    }
  }
  std::vector<std::uint64_t> counts;
  for (bool warning : {false, true}) {
    const ProofView threadedView = view(true, warning), singleView = view(true, warning);
    PageTransform threaded = conversion.transformFromWorkingSpace(&threadedView);
    PageTransform single = conversion.transformFromWorkingSpace(&singleView);
    std::vector<std::uint16_t> a(std::size_t(width) * rows * 3), b(a.size());
    threaded.convert(in.data(), width * 4, a.data(), width * 3, width, rows);
    single.convertOnThisThread(in.data(), width * 4, b.data(), width * 3, width, rows);
    EXPECT_EQ(a, b);
    EXPECT_EQ(threadedView.tally->pixels(), std::uint64_t(width) * rows);
    EXPECT_EQ(threadedView.tally->outside(), singleView.tally->outside());
    counts.push_back(threadedView.tally->outside());
  }
  EXPECT_EQ(counts[0], counts[1]);
  EXPECT_GT(counts[0], 0u);
}

TEST(SoftProof, GreySourcesAreProofedFromTheirOwnProfile) {
  Printer printer;
  auto conversion = ManagedConversion::open(printer.settings("relativeColorimetric", false));
  const ProofView v = view(false, true);
  PageTransform transform = conversion.transformFrom(grayGamma22(), &v);
  ASSERT_EQ(transform.sourceComponents(), 1);
  const std::vector<std::uint16_t> in = {16384, 32768, 65535};
  std::vector<std::uint16_t> out(9);
  transform.convertOnThisThread(in.data(), 3, out.data(), 9, 3, 1);
  // Neutral greys, lighter as they go, all within the printer's reach (its black is not).
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(out[3 * i], out[3 * i + 1], 2 * 257);
    EXPECT_NEAR(out[3 * i + 2], out[3 * i + 1], 2 * 257);
  }
  EXPECT_LT(out[1], out[4]);
  EXPECT_LT(out[4], out[7]);
  EXPECT_EQ(v.tally->outside(), 0u);
}

TEST(GamutTally, GivesTheShareInPercentWithOneDecimal) {
  GamutTally tally;
  EXPECT_EQ(tally.outsidePercent(), 0.0);
  tally.add(3, 1);
  EXPECT_DOUBLE_EQ(tally.outsidePercent(), 33.3);
  tally.add(997, 0);
  EXPECT_DOUBLE_EQ(tally.outsidePercent(), 0.1);
  tally.add(1000, 1000);
  EXPECT_DOUBLE_EQ(tally.outsidePercent(), 50.1);
}

}  // namespace
}  // namespace vardelle::color
