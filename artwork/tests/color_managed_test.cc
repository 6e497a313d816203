#include "artwork/color_managed.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstring>

#include "base/print_failure.h"
#include "color/output_profile.h"
#include "color/png_source_color.h"
#include "testing/failure.h"
#include "testing/icc_fixtures.h"
#include "testing/png_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::failureOf;

using testing::makePng;
using testing::PngOptions;
using testing::pngSample;

struct Printer {
  testing::TempDir dir;
  std::string bytes = testing::makeLutRgbPrinterProfile("Studio Baryta", 9, true);
  std::string path = dir.write("printer.icc", bytes);

  ColorManagement settings(bool bpc = true, const std::string& intent = "perceptual") const {
    ColorManagement s;
    s.mode = "application";
    s.profilePath = path;
    s.profileId = color::profileId(bytes);
    s.renderingIntent = intent;
    s.blackPointCompensation = bpc;
    s.driverColorManagementDisabled = true;
    return s;
  }
};

ArtworkPage pdfPageOfSize(double width, double height) { return {PdfPage{}, {width, height}}; }

ArtworkPage pngPageOfPixels(uint32_t width, uint32_t height) {
  PngPage png;
  png.header.width = width;
  png.header.height = height;
  png.colorSpace = color::standardSRGB();
  return {png, {double(width), double(height)}};
}

Artwork artworkOf(std::string format, std::vector<ArtworkPage> pages) {
  Artwork a;
  a.format = std::move(format);
  a.pages = std::move(pages);
  a.warnings = {kPrinterColorWarning};
  a.colorManagement = kPrinterManaged;
  return a;
}

TEST(ManagedRasterSize, PdfPagesAt300DpiOfTheFinalScaleAndPngPagesAtTheirOwnSize) {
  auto size = [](const ArtworkPage& page, double scale) {
    RasterSize s = managedRasterSize(page, scale);
    return std::make_pair(s.width, s.height);
  };
  EXPECT_EQ(size(pdfPageOfSize(595.28, 841.89), 100), std::make_pair(2481u, 3508u));
  EXPECT_EQ(size(pdfPageOfSize(595.28, 841.89), 50), std::make_pair(1241u, 1754u));
  // 1440 × 960 points give exactly 6000 × 4000 = 24,000,000 pixels.
  EXPECT_EQ(size(pdfPageOfSize(1440, 960), 100), std::make_pair(6000u, 4000u));
  EXPECT_EQ(failureOf([&] { managedRasterSize(pdfPageOfSize(1440, 960.1), 100); }),
            kManagedPageLimit);
  EXPECT_EQ(failureOf([&] { managedRasterSize(pdfPageOfSize(1e300, 1e300), 200); }),
            kManagedPageLimit);
  // A side alone may not pass the limit either, however thin the page.
  EXPECT_EQ(failureOf([&] { managedRasterSize(pngPageOfPixels(24'000'001, 1), 100); }),
            kManagedPageLimit);
  EXPECT_EQ(size(pngPageOfPixels(24'000'000, 1), 100), std::make_pair(24'000'000u, 1u));
  for (double scale : {10.0, 100.0, 200.0}) {
    EXPECT_EQ(size(pngPageOfPixels(5000, 4000), scale), std::make_pair(5000u, 4000u));
    EXPECT_EQ(failureOf([&] { managedRasterSize(pngPageOfPixels(6000, 5000), scale); }),
              kManagedPageLimit);
  }
}

TEST(ApplyingColorManagement, LimitsAreCheckedForTheWholeDocumentBeforeAnyConversion) {
  Printer printer;
  Artwork exactly = artworkOf("PNG", {pngPageOfPixels(5000, 4000), pngPageOfPixels(5000, 4000)});
  EXPECT_EQ(exactly.applyingColorManagement(printer.settings(), 100, false).pages.size(), 2u);
  Artwork over = artworkOf("PNG", {pngPageOfPixels(5000, 4000), pngPageOfPixels(20'000'001, 1)});
  EXPECT_EQ(failureOf([&] { over.applyingColorManagement(printer.settings(), 100, true); }),
            kManagedDocumentLimit);
  // The pages have no file behind them: converting any of them would fail differently.
  Artwork pageOver = artworkOf("PDF", {pdfPageOfSize(100, 100), pdfPageOfSize(1440, 960.1)});
  EXPECT_EQ(failureOf([&] { pageOver.applyingColorManagement(printer.settings(), 100, true); }),
            kManagedPageLimit);

  // The profile is checked first.
  ColorManagement changed = printer.settings();
  changed.profileId = color::profileId(printer.bytes + "x");
  EXPECT_EQ(failureOf([&] { pageOver.applyingColorManagement(changed, 100, true); }),
            "The imported ICC profile changed. Import it again before printing.");
  ColorManagement invalid = printer.settings();
  invalid.renderingIntent = "vivid";
  EXPECT_NE(failureOf([&] { pageOver.applyingColorManagement(invalid, 100, false); }), "");
}

TEST(ApplyingColorManagement, PrinterColourLeavesTheArtworkAsItWas) {
  Artwork a = artworkOf("PNG", {pngPageOfPixels(6000, 5000)});
  Artwork same = a.applyingColorManagement(ColorManagement::printer(), 100, true);
  EXPECT_EQ(same.warnings, a.warnings);
  EXPECT_EQ(same.colorManagement, kPrinterManaged);
  EXPECT_FALSE(same.pages.front().png()->pixels);
}

TEST(ApplyingColorManagement, WarningsAndLabelTellWhatWasDone) {
  Printer printer;
  const std::string usageOn =
      "Application-managed color uses Studio Baryta, perceptual, black point compensation on.";
  const std::string usageOff =
      "Application-managed color uses Studio Baryta, relativeColorimetric, black point "
      "compensation off.";
  const std::string pdfNote =
      "Application-managed PDFs are rasterized at 300 DPI at the final print scale; embedded "
      "colors are interpreted by Core Graphics through 16-bit ROMM RGB.";
  const std::string previewNote =
      "Preview shows layout and converted artwork, not a calibrated paper or ink soft proof. "
      "Driver color correction must be disabled and this printer/media route physically "
      "validated.";

  Artwork pdf = artworkOf("PDF", {pdfPageOfSize(72, 72)});
  pdf.warnings.insert(pdf.warnings.begin(), "An earlier note.");
  pdf.warnings.push_back("Something with no app ICC conversion inside.");
  pdf.sourceColorProfile = kPdfSourceColorProfile;
  Artwork managed = pdf.applyingColorManagement(printer.settings(true), 100, false);
  EXPECT_EQ(managed.warnings,
            (std::vector<std::string>{"An earlier note.", usageOn, pdfNote, previewNote}));
  EXPECT_EQ(managed.colorManagement, "Application-managed \xC2\xB7 Studio Baryta");
  EXPECT_EQ(managed.format, "PDF");
  EXPECT_EQ(managed.sourceColorProfile, kPdfSourceColorProfile);
  // Inspecting converts nothing.
  EXPECT_TRUE(managed.pages.front().pdf());

  testing::TempDir dir;
  Artwork png = Artwork::load(dir.write("a.png", makePng({})), 96.0);
  Artwork pngManaged =
      png.applyingColorManagement(printer.settings(false, "relativeColorimetric"), 100, false);
  std::vector<std::string> expected;
  for (const auto& w : png.warnings) {
    if (w != kPrinterColorWarning) expected.push_back(w);
  }
  expected.push_back(usageOff);
  expected.push_back(previewNote);
  EXPECT_EQ(pngManaged.warnings, expected);
  EXPECT_EQ(pngManaged.dpiX, png.dpiX);
  EXPECT_EQ(pngManaged.sourceColorProfile, png.sourceColorProfile);
}

TEST(ApplyingColorManagement, InspectingStillRefusesAPngItCouldNotConvert) {
  Printer printer;
  Artwork a = artworkOf("PNG", {pngPageOfPixels(10, 10)});
  PngPage& png = std::get<PngPage>(a.pages.front().content);
  const std::string cmyk = testing::makeCmykPrinterProfile();
  png.colorSpace.icc.assign(cmyk.begin(), cmyk.end());
  EXPECT_EQ(
      failureOf([&] { a.applyingColorManagement(printer.settings(), 100, false); }),
      "The PNG has an unsupported source color profile. Export it as a tagged RGB or grayscale "
      "PNG.");
}

/// The expected converted samples: lcms2's own transform of the 16-bit source.
std::vector<uint16_t> engineConverts(const color::SourceColorSpace& space, bool gray,
                                     const std::vector<uint16_t>& source, const Printer& printer) {
  cmsHPROFILE in = cmsOpenProfileFromMem(space.icc.data(), cmsUInt32Number(space.icc.size()));
  cmsHPROFILE out =
      cmsOpenProfileFromMem(printer.bytes.data(), cmsUInt32Number(printer.bytes.size()));
  cmsHTRANSFORM t = cmsCreateTransform(in, gray ? TYPE_GRAY_16 : TYPE_RGBA_16, out, TYPE_RGB_16,
                                       INTENT_PERCEPTUAL,
                                       cmsFLAGS_HIGHRESPRECALC | cmsFLAGS_BLACKPOINTCOMPENSATION);
  const size_t pixels = source.size() / (gray ? 1 : 4);
  std::vector<uint16_t> result(pixels * 3, 65535);
  cmsDoTransform(t, source.data(), result.data(), cmsUInt32Number(pixels));
  cmsDeleteTransform(t);
  cmsCloseProfile(in);
  cmsCloseProfile(out);
  return result;
}

std::vector<uint16_t> samplesOf(const Pixels& pixels) {
  std::vector<uint16_t> words(pixels.bytes.size() / 2);
  std::memcpy(words.data(), pixels.bytes.data(), pixels.bytes.size());
  return words;
}

uint16_t overWhite(unsigned v, unsigned a) {
  return uint16_t(std::lround((double(v) * a + 65535.0 * (65535 - a)) / 65535.0));
}

TEST(ApplyingColorManagement, PngPagesConvertFromTheirOwnSpaceAt16Bits) {
  Printer printer;
  testing::TempDir dir;
  struct Case {
    const char* name;
    PngOptions options;
  };
  PngOptions gray{};
  gray.colorType = 0;
  PngOptions grayAlpha{};
  grayAlpha.colorType = 4;
  PngOptions palette{};
  palette.colorType = 3;
  palette.transparentPaletteEntry = true;
  PngOptions rgba16{};
  rgba16.colorType = 6;
  rgba16.bitDepth = 16;
  for (const Case& c : {Case{"gray", gray}, Case{"grayAlpha", grayAlpha}, Case{"palette", palette},
                        Case{"rgba16", rgba16}}) {
    SCOPED_TRACE(c.name);
    Artwork a = Artwork::load(dir.write(std::string(c.name) + ".png", makePng(c.options)), 72.0);
    const PngPage& source = *a.pages.front().png();
    Artwork managed = a.applyingColorManagement(printer.settings(), 100, true);
    const PngPage* converted = managed.pages.front().png();
    ASSERT_TRUE(converted && converted->pixels);
    EXPECT_EQ(converted->deviceProfileId, color::profileId(printer.bytes));
    EXPECT_EQ(std::string(converted->colorSpace.icc.begin(), converted->colorSpace.icc.end()),
              printer.bytes);
    EXPECT_EQ(managed.pages.front().naturalSize().width, a.pages.front().naturalSize().width);
    const Pixels& out = *converted->pixels;
    ASSERT_EQ(out.width, 4u);
    ASSERT_EQ(out.height, 3u);
    ASSERT_EQ(out.bitDepth, 16);
    ASSERT_EQ(out.channels, 3);

    const bool isGray = c.options.colorType == 0 || c.options.colorType == 4;
    const int components = isGray ? 1 : 4;
    std::vector<uint16_t> expected16(size_t(4) * 3 * components, 65535);
    const auto entries = testing::pngPalette();
    for (uint32_t y = 0; y < 3; ++y) {
      for (uint32_t x = 0; x < 4; ++x) {
        uint16_t* px = &expected16[(y * 4 + x) * components];
        if (c.options.colorType == 3) {
          const unsigned index = (x + y) % 4;
          for (int k = 0; k < 3; ++k) {
            px[k] = index == 0 ? 65535 : uint16_t(entries[index * 3 + k] * 257);
          }
        } else {
          const int colors = isGray ? 1 : 3;
          const bool alpha = c.options.colorType == 4 || c.options.colorType == 6;
          const unsigned a16 = alpha ? pngSample(x, y, colors) * 257 : 65535;
          for (int k = 0; k < colors; ++k) {
            px[k] = overWhite(pngSample(x, y, k) * 257, a16);
          }
        }
      }
    }
    EXPECT_EQ(samplesOf(out), engineConverts(source.colorSpace, isGray, expected16, printer));
  }
}

TEST(ApplyingColorManagement, StreamedPngPagesGiveExactlyTheSamplesOfHeldOnes) {
  Printer printer;
  testing::TempDir dir;
  PngOptions rgba16{};
  rgba16.colorType = 6;
  rgba16.bitDepth = 16;
  PngOptions palette{};
  palette.colorType = 3;
  palette.transparentPaletteEntry = true;
  // Wide and tall enough for several conversion bands.
  PngOptions large{};
  large.width = 2100;
  large.height = 800;
  PngOptions gray{};
  gray.colorType = 0;
  gray.width = 1500;
  gray.height = 1500;
  int index = 0;
  for (const PngOptions& options : {rgba16, palette, large, gray}) {
    SCOPED_TRACE(index);
    const std::string path = dir.write("p" + std::to_string(index++) + ".png", makePng(options));
    const Artwork a = Artwork::load(path, 72.0);
    const Artwork held = a.applyingColorManagement(printer.settings(), 100, true);
    const Artwork streamed = a.applyingColorManagement(printer.settings(), 100, true, true);
    const PngPage* page = streamed.pages.front().png();
    ASSERT_TRUE(page && page->rows);
    EXPECT_FALSE(page->pixels) << "a streamed page holds no converted samples";
    EXPECT_EQ(page->deviceProfileId, held.pages.front().png()->deviceProfileId);
    EXPECT_EQ(streamed.warnings, held.warnings);
    EXPECT_EQ(page->decode()->bytes, held.pages.front().png()->pixels->bytes);
  }
  // The source is read again when drawn: a file damaged meanwhile fails then.
  const std::string path = dir.write("late.png", makePng(large));
  const Artwork streamed =
      Artwork::load(path, 72.0).applyingColorManagement(printer.settings(), 100, true, true);
  dir.write("late.png", "not a PNG any more");
  EXPECT_EQ(failureOf([&] { streamed.pages.front().png()->decode(); }), kPngUnreadable);
}

}  // namespace
}  // namespace vardelle::artwork
