#include "artwork/artwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "artwork/pdf_document.h"
#include "base/print_failure.h"
#include "color/png_source_color.h"
#include "testing/failure.h"
#include "testing/pdf_fixtures.h"
#include "testing/png_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::artwork {
namespace {

using testing::makePdf;
using testing::makePng;
using testing::PdfPageOptions;
using testing::pngChunk;
using testing::PngOptions;
using testing::TempDir;

const char* kNoResolution =
    "This PNG has no valid physical resolution. Enter its intended DPI in the preset (for "
    "example, 300); pixel dimensions alone do not define print size.";

std::string failureOf(const std::string& path, std::optional<double> dpi = std::nullopt) {
  return testing::failureOf([&] { Artwork::load(path, dpi); });
}

PdfPageOptions page(std::string mediaBox, std::string rotate = "", std::string cropBox = "",
                    std::string userUnit = "") {
  PdfPageOptions p;
  p.mediaBox = std::move(mediaBox);
  p.rotate = std::move(rotate);
  p.cropBox = std::move(cropBox);
  p.userUnit = std::move(userUnit);
  return p;
}

Size onlyPageSize(const TempDir& dir, const std::vector<PdfPageOptions>& pages,
                  const std::string& inherited = "") {
  Artwork a = Artwork::load(dir.write("a.pdf", makePdf(pages, inherited)), std::nullopt);
  EXPECT_EQ(a.pages.size(), pages.size());
  return a.pages.at(0).naturalSize();
}

TEST(ArtworkLoading, PathChecksComeBeforeTheFormat) {
  TempDir dir;
  EXPECT_EQ(failureOf("art.pdf"), "Artwork needs an absolute file path.");
  // Readability is checked before the extension.
  EXPECT_EQ(failureOf(dir.file("missing.jpg")),
            "The artwork could not be read. Check that the file is downloaded and still exists.");
  EXPECT_EQ(failureOf(dir.write("photo.jpg", "x")), "Only PDF and PNG artwork is supported.");
  EXPECT_EQ(failureOf(dir.write("noextension", "x")), "Only PDF and PNG artwork is supported.");
  // The extension alone chooses: a PNG named .pdf is an unreadable PDF.
  EXPECT_EQ(failureOf(dir.write("image.pdf", makePng({}))),
            "This PDF could not be opened. It may be incomplete or damaged.");
  const std::string unreadable = dir.write("secret.pdf", makePdf({page("[0 0 10 10]")}));
  chmod(unreadable.c_str(), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(failureOf(unreadable),
              "The artwork could not be read. Check that the file is downloaded and still exists.");
  }
}

TEST(ArtworkLoading, UpperCaseExtensionsAreLoaded) {
  TempDir dir;
  Artwork pdf = Artwork::load(dir.write("A.PDF", makePdf({page("[0 0 612 792]")})), std::nullopt);
  EXPECT_EQ(pdf.format, "PDF");
  Artwork png = Artwork::load(dir.write("B.Png", makePng({})), 72.0);
  EXPECT_EQ(png.format, "PNG");
}

TEST(PdfLoading, DescribesTheDocument) {
  TempDir dir;
  Artwork a = Artwork::load(
      dir.write("a.pdf", makePdf({page("[0 0 612 792]"), page("[0 0 10 20]")})), std::nullopt);
  EXPECT_EQ(a.format, "PDF");
  ASSERT_EQ(a.pages.size(), 2u);
  EXPECT_FALSE(a.dpiX);
  EXPECT_FALSE(a.dpiY);
  EXPECT_EQ(a.warnings, std::vector<std::string>{
                            "Color is handled by macOS and the printer; no app ICC conversion is "
                            "applied."});
  EXPECT_EQ(a.sourceColorProfile,
            "PDF document color spaces (embedded RGB/CMYK interpreted by Core Graphics)");
  EXPECT_EQ(a.colorManagement, "Printer-managed");
  ASSERT_TRUE(a.pdfDocument);
  const PdfPage* second = a.pages[1].pdf();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->index, 1u);
  EXPECT_EQ(second->document, a.pdfDocument);
  EXPECT_TRUE(second->document->pageObject(1).isPageObject());
}

TEST(PdfLoading, RotationTurnsTheSize) {
  TempDir dir;
  struct Case {
    std::string rotate;
    int normalised;
    double width, height;
  } cases[] = {{"", 0, 612, 792},       {"0", 0, 612, 792},     {"90", 90, 792, 612},
               {"-90", 270, 792, 612},  {"180", 180, 612, 792}, {"270", 270, 792, 612},
               {"-180", 180, 612, 792}, {"450", 90, 792, 612},  {"-630", 90, 792, 612},
               {"90.0", 90, 792, 612}};
  for (const auto& c : cases) {
    Artwork a =
        Artwork::load(dir.write("r.pdf", makePdf({page("[0 0 612 792]", c.rotate)})), std::nullopt);
    EXPECT_EQ(a.pages[0].pdf()->rotation, c.normalised) << c.rotate;
    EXPECT_EQ(a.pages[0].naturalSize().width, c.width) << c.rotate;
    EXPECT_EQ(a.pages[0].naturalSize().height, c.height) << c.rotate;
  }
  for (const char* bad : {"45", "-45", "91", "89.5"}) {
    EXPECT_EQ(
        failureOf(dir.write("r.pdf", makePdf({page("[0 0 10 10]"), page("[0 0 10 10]", bad)}))),
        "PDF page 2 has unsupported rotation.")
        << bad;
  }
}

TEST(PdfLoading, BoxesAndRotationAreInherited) {
  TempDir dir;
  // Media box and rotation from the page tree, crop box from the page.
  Size s =
      onlyPageSize(dir, {page("", "", "[10 10 110 60]")}, "/MediaBox [0 0 300 300] /Rotate 90");
  EXPECT_EQ(s.width, 50);
  EXPECT_EQ(s.height, 100);
  // The page's own entry wins over the inherited one.
  s = onlyPageSize(dir, {page("[0 0 40 30]", "0")}, "/MediaBox [0 0 300 300] /Rotate 90");
  EXPECT_EQ(s.width, 40);
  EXPECT_EQ(s.height, 30);
  // An inherited crop box applies too.
  s = onlyPageSize(dir, {page("[0 0 400 400]")}, "/CropBox [0 0 20 30]");
  EXPECT_EQ(s.width, 20);
  EXPECT_EQ(s.height, 30);
}

TEST(PdfLoading, VisibleAreaIsCropIntersectedWithMedia) {
  TempDir dir;
  Artwork a = Artwork::load(
      dir.write("c.pdf", makePdf({page("[0 0 200 100]", "", "[150 -50 250 80]")})), std::nullopt);
  const PdfPage& p = *a.pages[0].pdf();
  EXPECT_EQ(p.visibleBox.x, 150);
  EXPECT_EQ(p.visibleBox.y, 0);
  EXPECT_EQ(p.visibleBox.width, 50);
  EXPECT_EQ(p.visibleBox.height, 80);
  EXPECT_EQ(p.cropBox.y, -50);
  EXPECT_EQ(p.mediaBox.width, 200);
  // Reversed corners are standardised.
  EXPECT_EQ(onlyPageSize(dir, {page("[612 792 0 0]")}).width, 612);

  const char* bounds = "PDF page 1 has invalid page bounds.";
  EXPECT_EQ(
      failureOf(dir.write("o.pdf", makePdf({page("[0 0 100 100]", "", "[200 200 300 300]")}))),
      bounds);
  // Touching boxes leave nothing visible.
  EXPECT_EQ(failureOf(dir.write("t.pdf", makePdf({page("[0 0 100 100]", "", "[100 0 200 100]")}))),
            bounds);
  EXPECT_EQ(failureOf(dir.write("z.pdf", makePdf({page("[0 0 0 100]")}))), bounds);
  EXPECT_EQ(failureOf(dir.write("m.pdf", makePdf({page("")}))), bounds);
  EXPECT_EQ(failureOf(dir.write("n.pdf", makePdf({page("[0 0 /A 100]")}))), bounds);
}

TEST(PdfLoading, UserUnitScalesThePage) {
  TempDir dir;
  Size s = onlyPageSize(dir, {page("[0 0 100 100]", "", "", "2")});
  EXPECT_EQ(s.width, 200);
  EXPECT_EQ(s.height, 200);
  s = onlyPageSize(dir, {page("[0 0 100 50]", "90", "", "0.5")});
  EXPECT_EQ(s.width, 25);
  EXPECT_EQ(s.height, 50);
  // Not inherited: only the page dictionary counts.
  s = onlyPageSize(dir, {page("[0 0 100 100]")}, "/UserUnit 3");
  EXPECT_EQ(s.width, 100);
  for (const char* bad : {"0", "-1", "0.0"}) {
    EXPECT_EQ(failureOf(dir.write("u.pdf", makePdf({page("[0 0 100 100]", "", "", bad)}))),
              "PDF page 1 has invalid physical units.")
        << bad;
  }
}

TEST(PdfLoading, HugeUserUnitOverflowsToInvalidDimensions) {
  TempDir dir;
  const std::string big = std::string(305, '9') + ".0";  // finite, but not times the box
  EXPECT_EQ(failureOf(dir.write("d.pdf", makePdf({page("[0 0 100000 100]", "", "", big)}))),
            "PDF page 1 has invalid dimensions.");
}

TEST(PdfLoading, FirstBadPageEndsLoading) {
  TempDir dir;
  std::vector<PdfPageOptions> pages(3, page("[0 0 100 100]"));
  pages[1].rawObject = "42";
  EXPECT_EQ(failureOf(dir.write("p.pdf", makePdf(pages))), "PDF page 2 could not be read.");
  pages[1] = page("[0 0 100 100]", "45");
  pages[2] = page("[0 0 100 100]", "", "", "0");
  EXPECT_EQ(failureOf(dir.write("p.pdf", makePdf(pages))), "PDF page 2 has unsupported rotation.");
}

TEST(PdfLoading, RefusesDocumentsThatCannotBePrinted) {
  TempDir dir;
  EXPECT_EQ(failureOf(dir.write("e.pdf", makePdf({}))), "This PDF has no pages.");
  EXPECT_EQ(failureOf(dir.write("g.pdf", "%PDF-1.4\ngarbage")),
            "This PDF could not be opened. It may be incomplete or damaged.");
  EXPECT_EQ(failureOf(dir.write("empty.pdf", "")),
            "This PDF could not be opened. It may be incomplete or damaged.");
  const std::string plain = makePdf({page("[0 0 100 100]")});
  EXPECT_EQ(failureOf(dir.write("locked.pdf", testing::encryptPdf(plain, "user-secret", true))),
            "Unlock this password-protected PDF before printing.");
  EXPECT_EQ(failureOf(dir.write("noprint.pdf", testing::encryptPdf(plain, "", false))),
            "This PDF does not allow printing.");
  // Encrypted with an empty user password and printing allowed: opens like any other.
  Artwork a =
      Artwork::load(dir.write("open.pdf", testing::encryptPdf(plain, "", true)), std::nullopt);
  EXPECT_EQ(a.pages.size(), 1u);
}

TEST(PdfLoading, TruncatedFileIsRepairedOrRefusedWithTheDamagedSentence) {
  TempDir dir;
  const std::string pdf = makePdf({page("[0 0 100 100]"), page("[0 0 200 200]")});
  int repaired = 0, refused = 0;
  for (size_t cut = 0; cut < pdf.size(); cut += 37) {
    SCOPED_TRACE(cut);
    const std::string path = dir.write("cut.pdf", pdf.substr(0, cut));
    std::optional<Artwork> loaded;
    const std::string failure =
        testing::failureOf([&] { loaded = Artwork::load(path, std::nullopt); });
    if (!loaded) {
      EXPECT_EQ(failure, "This PDF could not be opened. It may be incomplete or damaged.");
      ++refused;
      continue;
    }
    ++repaired;
    // What qpdf recovers is the file's own pages, in order, at their own sizes: never a page
    // of a size the file does not declare.
    ASSERT_GE(loaded->pages.size(), 1u);
    ASSERT_LE(loaded->pages.size(), 2u);
    for (size_t i = 0; i < loaded->pages.size(); ++i) {
      const double side = i == 0 ? 100 : 200;
      EXPECT_EQ(loaded->pages[i].naturalSize().width, side);
      EXPECT_EQ(loaded->pages[i].naturalSize().height, side);
    }
  }
  // Both roads were taken: a file cut before its pages and one cut only in its cross-reference.
  EXPECT_GT(repaired, 0);
  EXPECT_GT(refused, 0);
}

TEST(PdfLoading, DocumentOutlivesTheArtworkThroughItsPages) {
  TempDir dir;
  ArtworkPage kept;
  {
    Artwork a = Artwork::load(dir.write("k.pdf", makePdf({page("[0 0 100 100]")})), std::nullopt);
    kept = a.pages[0];
  }
  const PdfPage* p = kept.pdf();
  EXPECT_TRUE(p->document->pageObject(p->index).getKey("/MediaBox").isArray());
}

PngOptions withDpi(double dpiX, double dpiY = 0) {
  PngOptions s;
  s.width = 3000;
  s.height = 1500;
  s.pixelsPerMeterX = testing::pixelsPerMeter(dpiX);
  s.pixelsPerMeterY = testing::pixelsPerMeter(dpiY == 0 ? dpiX : dpiY);
  return s;
}

TEST(PngLoading, SizeComesFromTheRecordedResolution) {
  TempDir dir;
  PngOptions s = withDpi(300, 150);
  Artwork a = Artwork::load(dir.write("a.png", makePng(s)), std::nullopt);
  EXPECT_EQ(a.format, "PNG");
  const double dpiX = double(*s.pixelsPerMeterX) * 0.0254;
  const double dpiY = double(*s.pixelsPerMeterY) * 0.0254;
  EXPECT_EQ(a.dpiX, dpiX);
  EXPECT_EQ(a.dpiY, dpiY);
  ASSERT_EQ(a.pages.size(), 1u);
  EXPECT_EQ(a.pages[0].naturalSize().width, 3000 * 72 / dpiX);
  EXPECT_EQ(a.pages[0].naturalSize().height, 1500 * 72 / dpiY);
  EXPECT_FALSE(a.pdfDocument);
  EXPECT_EQ(a.colorManagement, "Printer-managed");
  const PngPage* p = a.pages[0].png();
  ASSERT_TRUE(p);
  EXPECT_EQ(p->header.width, 3000u);
  EXPECT_EQ(p->header.colorType, PngColorType::rgb);
  EXPECT_FALSE(p->pixels);  // nothing decoded while loading
}

TEST(PngLoading, OverrideReplacesTheFilesResolution) {
  TempDir dir;
  PngOptions s;
  s.width = 3000;
  s.height = 1500;
  const std::string path = dir.write("a.png", makePng(s));
  EXPECT_EQ(failureOf(path), kNoResolution);
  Artwork a = Artwork::load(path, 300.0);
  EXPECT_EQ(a.dpiX, 300);
  EXPECT_EQ(a.dpiY, 300);
  EXPECT_EQ(a.pages[0].naturalSize().width, 720);
  EXPECT_EQ(a.pages[0].naturalSize().height, 360);
  EXPECT_EQ(a.warnings,
            (std::vector<std::string>{
                "Color is handled by macOS and the printer; no app ICC conversion is applied.",
                "PNG size uses the explicit DPI override in this preset.",
                "Untagged PNG \xE2\x80\x94 assumed sRGB"}));
  // An override is used even when the file records its own resolution.
  EXPECT_EQ(Artwork::load(dir.write("b.png", makePng(withDpi(150))), 300.0).dpiX, 300);
  for (double bad : {0.0, -72.0, std::nan("")}) {
    EXPECT_EQ(failureOf(path, bad), kNoResolution);
  }
}

TEST(PngLoading, UnknownOrZeroResolutionIsNoResolution) {
  TempDir dir;
  PngOptions unknownUnit = withDpi(300);
  unknownUnit.physUnit = 0;
  EXPECT_EQ(failureOf(dir.write("u.png", makePng(unknownUnit))), kNoResolution);
  PngOptions zero;
  zero.pixelsPerMeterX = 0;
  zero.pixelsPerMeterY = 100;
  EXPECT_EQ(failureOf(dir.write("z.png", makePng(zero))), kNoResolution);
}

TEST(PngLoading, OrientationOtherThanUprightIsRefusedWhereverItStands) {
  TempDir dir;
  const std::string upright = makePng(withDpi(300));
  const std::string turned = testing::pngChunk("eXIf", testing::exifWithOrientation(6));
  const char* message =
      "This PNG has an orientation transform. Export an upright PNG before printing.";
  EXPECT_EQ(failureOf(dir.write("b.png", testing::insertBeforeImageData(upright, turned))),
            message);
  EXPECT_EQ(failureOf(dir.write("a.png", testing::insertBeforeEnd(upright, turned))), message);
  const std::string one = testing::pngChunk("eXIf", testing::exifWithOrientation(1));
  EXPECT_NO_THROW(
      Artwork::load(dir.write("c.png", testing::insertBeforeEnd(upright, one)), std::nullopt));
  EXPECT_NO_THROW(Artwork::load(dir.write("d.png", upright), std::nullopt));
}

TEST(PngLoading, DamagedFilesCannotBeOpened) {
  TempDir dir;
  const std::string good = makePng(withDpi(300));
  const char* unreadable = "This PNG could not be opened. It may be incomplete or damaged.";
  EXPECT_EQ(failureOf(dir.write("e.png", "")), unreadable);
  EXPECT_EQ(failureOf(dir.write("s.png", "\x89PNG\r\n\x1a\n")), unreadable);
  EXPECT_EQ(failureOf(dir.write("t.png", good.substr(0, 20))), unreadable);
  std::string badCrc = good;
  badCrc[29] ^= 1;  // inside IHDR's CRC
  EXPECT_EQ(failureOf(dir.write("c.png", badCrc)), unreadable);
  EXPECT_EQ(failureOf(dir.write("p.png", makePdf({page("[0 0 1 1]")}))), unreadable);
}

TEST(PngLoading, OversizedChunkBeforeTheImageDataIsInvalidColorMetadata) {
  TempDir dir;
  const std::string good = makePng(withDpi(300));
  const std::string hugeHeader = std::string("\xEE\x6B\x28\x00", 4) + "tEXt";  // 4,000,000,000
  EXPECT_EQ(failureOf(dir.write("h.png", testing::insertBeforeImageData(good, hugeHeader))),
            "The PNG contains invalid color metadata.");
  const std::string over128 = std::string("\x08\x00\x00\x01", 4) + "zTXt";  // 128 MiB + 1
  EXPECT_EQ(failureOf(dir.write("o.png", testing::insertBeforeImageData(good, over128))),
            "The PNG contains invalid color metadata.");
  // After the image data the colour scan has stopped; the file still loads.
  EXPECT_NO_THROW(
      Artwork::load(dir.write("a.png", testing::insertBeforeEnd(good, hugeHeader)), std::nullopt));
}

TEST(PngLoading, EveryPixelLayoutLoadsAndDecodes) {
  TempDir dir;
  struct Case {
    int colorType, bitDepth;
    bool transparent;
    int channels, decodedDepth;
    color::ColorModel model;
  } cases[] = {
      {2, 8, false, 3, 8, color::ColorModel::rgb},
      {2, 16, false, 3, 16, color::ColorModel::rgb},
      {6, 8, false, 4, 8, color::ColorModel::rgb},
      {6, 16, false, 4, 16, color::ColorModel::rgb},
      {0, 8, false, 1, 8, color::ColorModel::gray},
      {0, 1, false, 1, 8, color::ColorModel::gray},
      {0, 16, false, 1, 16, color::ColorModel::gray},
      {4, 8, false, 2, 8, color::ColorModel::gray},
      {3, 8, false, 3, 8, color::ColorModel::indexed},
      {3, 2, true, 4, 8, color::ColorModel::indexed},
  };
  for (const auto& c : cases) {
    PngOptions s;
    s.width = 5;
    s.height = 3;
    s.colorType = c.colorType;
    s.bitDepth = c.bitDepth;
    s.transparentPaletteEntry = c.transparent;
    s.interlaced = c.bitDepth == 16;
    Artwork a = Artwork::load(dir.write("x.png", makePng(s)), 72.0);
    const PngPage& p = *a.pages[0].png();
    EXPECT_EQ(p.colorSpace.model, c.model) << c.colorType << "/" << c.bitDepth;
    auto pixels = p.decode();
    ASSERT_EQ(pixels->channels, c.channels) << c.colorType << "/" << c.bitDepth;
    EXPECT_EQ(pixels->bitDepth, c.decodedDepth);
    EXPECT_EQ(pixels->bytes.size(), pixels->rowBytes() * 3);
    EXPECT_EQ(pixels->hasAlpha, c.channels == 2 || c.channels == 4);
    const uint32_t x = 3, y = 2;
    if (c.colorType == 3) {
      const auto palette = testing::pngPalette();
      const unsigned index = (x + y) % 4;
      const unsigned char* px = &pixels->bytes[y * pixels->rowBytes() + x * c.channels];
      EXPECT_EQ(px[0], palette[index * 3]);
      EXPECT_EQ(px[2], palette[index * 3 + 2]);
      if (c.transparent) {
        EXPECT_EQ(px[3], index == 0 ? 0 : 255);
      }
    } else if (c.bitDepth == 16) {
      const auto* samples = reinterpret_cast<const uint16_t*>(pixels->bytes.data());
      EXPECT_EQ(samples[(y * 5 + x) * c.channels + c.channels - 1],
                testing::pngSample(x, y, c.channels - 1) * 257);
    } else if (c.bitDepth == 8) {
      EXPECT_EQ(pixels->bytes[y * pixels->rowBytes() + x * c.channels + c.channels - 1],
                testing::pngSample(x, y, c.channels - 1));
    } else {
      // One bit per sample expands to 0 or 255.
      const unsigned char v = pixels->bytes[y * pixels->rowBytes() + x];
      EXPECT_EQ(v, (testing::pngSample(x, y, 0) & 0x80) ? 255 : 0);
    }
  }
}

TEST(PngLoading, DecodeFailsCleanlyWhenTheFileIsDamagedOrReplaced) {
  TempDir dir;
  PngOptions s;
  s.width = 64;
  s.height = 64;
  const std::string good = makePng(s);
  const std::string path = dir.write("d.png", good);
  Artwork a = Artwork::load(path, 72.0);
  // Truncated inside the image data: the header still reads, the pixels do not.
  dir.write("d.png", good.substr(0, good.size() - 40));
  try {
    a.pages[0].png()->decode();
    ADD_FAILURE() << "decoded a truncated PNG";
  } catch (const PrintFailure& e) {
    EXPECT_STREQ(e.what(), "This PNG could not be opened. It may be incomplete or damaged.");
  }
  // Replaced by a larger image: never drawn at the measured size.
  s.width = 65;
  dir.write("d.png", makePng(s));
  EXPECT_THROW(a.pages[0].png()->decode(), PrintFailure);
}

TEST(PngColor, ChunksBeforeTheImageDataTagTheFile) {
  TempDir dir;
  PngOptions s;
  s.pixelsPerMeterX = testing::pixelsPerMeter(300);
  s.gamma = 1 / 2.2;
  Artwork tagged = Artwork::load(dir.write("g.png", makePng(s)), std::nullopt);
  EXPECT_EQ(tagged.sourceColorProfile, "PNG source: PNG calibrated color space");
  EXPECT_EQ(tagged.warnings.size(), 1u);  // nothing assumed

  // The same gamma after the image data is not seen: the file counts as untagged.
  s.gamma.reset();
  std::string gammaBytes("\0\0\xB1\x8F", 4);  // 45455
  const std::string late = testing::insertBeforeEnd(makePng(s), pngChunk("gAMA", gammaBytes));
  Artwork untagged = Artwork::load(dir.write("l.png", late), std::nullopt);
  EXPECT_EQ(untagged.sourceColorProfile, "Untagged PNG \xE2\x80\x94 assumed sRGB");
  EXPECT_EQ(untagged.warnings.size(), 2u);

  PngOptions srgb;
  srgb.pixelsPerMeterX = testing::pixelsPerMeter(300);
  srgb.srgb = true;
  EXPECT_EQ(Artwork::load(dir.write("s.png", makePng(srgb)), std::nullopt).sourceColorProfile,
            "PNG source: sRGB IEC61966-2.1");
}

TEST(PngColor, GreyAndPaletteImagesAreDescribed) {
  TempDir dir;
  PngOptions gray;
  gray.colorType = 0;
  gray.bitDepth = 16;
  Artwork g = Artwork::load(dir.write("g.png", makePng(gray)), 300.0);
  EXPECT_EQ(g.sourceColorProfile, "Untagged grayscale PNG \xE2\x80\x94 assumed Gray Gamma 2.2");
  EXPECT_EQ(g.warnings.size(), 3u);  // colour note, override note, assumption
  EXPECT_EQ(g.pages[0].png()->colorSpace.model, color::ColorModel::gray);

  PngOptions palette;
  palette.colorType = 3;
  Artwork p = Artwork::load(dir.write("p.png", makePng(palette)), 300.0);
  EXPECT_EQ(p.sourceColorProfile, "PNG color interpreted by ImageIO: sRGB IEC61966-2.1");
  EXPECT_EQ(p.pages[0].png()->colorSpace.model, color::ColorModel::indexed);
  EXPECT_FALSE(p.pages[0].png()->colorSpace.icc.empty());
}

TEST(PngColor, EmbeddedProfileIsKeptForDrawing) {
  TempDir dir;
  PngOptions s;
  s.pixelsPerMeterX = testing::pixelsPerMeter(300);
  // A profile libpng accepts: an sRGB-like RGB profile written by LittleCMS.
  s.iccProfile = color::standardSRGB().icc;
  Artwork a = Artwork::load(dir.write("i.png", makePng(s)), std::nullopt);
  EXPECT_EQ(a.sourceColorProfile, "PNG source: sRGB IEC61966-2.1");
  EXPECT_EQ(a.pages[0].png()->colorSpace.icc, s.iccProfile);
}

}  // namespace
}  // namespace vardelle::artwork
