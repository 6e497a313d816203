#include "app/commands/output_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "artwork/placement.h"
#include "artwork/preview.h"
#include "color/output_profile.h"
#include "printing/settings/snapshot.h"
#include "testing/icc_fixtures.h"
#include "testing/layered_pdf.h"
#include "testing/machine_shape.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/raster_probe.h"
#include "testing/ruler.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/tiff_fixtures.h"

namespace vardelle::app {
namespace {

using nlohmann::json;
using testing::FixturePage;

FixturePage filled(double width, double height, double r, double g, double b) {
  FixturePage page;
  page.mediaBox = {0, 0, width, height};
  page.content = testing::fillRect(0, 0, width, height, r, g, b);
  return page;
}

bool isPdf(const std::string& bytes) { return bytes.rfind("%PDF-", 0) == 0; }

// A folder with an artwork, a saved A4 preset and a way to run requests against them.
class OutputFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    artwork = dir.write(
        "art.pdf", testing::makeFixturePdf({filled(200, 150, 1, 0, 0), filled(150, 200, 0, 0, 1)}));
    snapshot.printerName = "P";
    snapshot.archive = "{}";
    snapshot.paper = {595.2755905511812, 841.8897637795276, 18, 18,
                      559.2755905511812, 805.8897637795276};
    snapshot.summary.paperName = "A4";
    snapshot.summary.paperWidthMm = 210;
    snapshot.summary.paperHeightMm = 297;
    snapshot.summary.orientation = "portrait";
    snapshot.summary.printerName = "P";
    snapshotPath = dir.write("preset.json", snapshot.toFileBytes());
  }

  json request(const std::string& output) const {
    json r = {{"printerName", "P"},
              {"snapshotPath", snapshotPath},
              {"filePath", artwork},
              {"scalePercent", 100}};
    if (!output.empty()) r["outputPath"] = output;
    return r;
  }

  json run(const std::string& mode, const json& r,
           const std::map<std::string, std::string>& env = {}) {
    const std::string path = dir.write("request-" + std::to_string(++runs) + ".json", r.dump());
    auto out = testing::runVardelle(mode, path, env);
    lastExit = out.exitStatus;
    return json::parse(out.out);
  }

  // Files in the folder other than the requests: a failure must leave no temporary file.
  std::set<std::string> outputs() const {
    std::set<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
      std::string name = e.path().filename().string();
      if (name.rfind("request-", 0) != 0) names.insert(name);
    }
    return names;
  }

  testing::TempDir dir;
  std::string artwork;
  std::string snapshotPath;
  printing::NativeSnapshot snapshot;
  int runs = 0;
  int lastExit = -1;
};

TEST_F(OutputFlow, PreviewWritesOneSheetPerPageAndEchoesThePath) {
  const std::string output = dir.path() + "/sub/../preview.pdf";
  std::filesystem::create_directory(dir.file("sub"));
  json result = run("preview", request(output));
  EXPECT_EQ(lastExit, 0);
  EXPECT_EQ(result["ok"], true);
  EXPECT_EQ(result["outputPath"], output);
  EXPECT_EQ(result["summary"]["paperName"], "A4");
  EXPECT_EQ(result["document"]["pageCount"], 2);
  EXPECT_EQ(result["document"]["fits"], true);
  auto bytes = testing::readFile(dir.file("preview.pdf"));
  ASSERT_TRUE(isPdf(bytes));
  auto info = testing::runProcess({"/usr/bin/pdfinfo", dir.file("preview.pdf")});
  EXPECT_NE(info.out.find("Pages:           2"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Creator:         KORVANEL Print"), std::string::npos);
}

TEST_F(OutputFlow, ThumbnailWritesPngBytesWhateverTheName) {
  json result = run("thumbnail", request(dir.file("picture.pdf")));
  EXPECT_EQ(result["ok"], true) << result.dump();
  auto png = testing::decodePng(testing::readFile(dir.file("picture.pdf")));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 849);
  EXPECT_EQ(png->height, 1200);
}

TEST_F(OutputFlow, ApplicationColourInspectsPreviewsAndThumbnailsTheConvertedPages) {
  const std::string profile = testing::makeLutRgbPrinterProfile("Matte Paper", 9, true);
  json r = request("");
  r["colorManagement"] = {{"mode", "application"},
                          {"profileId", color::profileId(profile)},
                          {"profilePath", dir.write("matte.icc", profile)},
                          {"renderingIntent", "relativeColorimetric"},
                          {"blackPointCompensation", false},
                          {"driverColorManagementDisabled", true}};
  json inspected = run("inspect", r);
  ASSERT_EQ(inspected["ok"], true) << inspected.dump();
  EXPECT_EQ(inspected["document"]["colorManagement"], "Application-managed \u00b7 Matte Paper");
  EXPECT_EQ(inspected["document"]["warnings"].size(), 3u) << inspected.dump();

  r["outputPath"] = dir.file("managed.pdf");
  json previewed = run("preview", r);
  ASSERT_EQ(previewed["ok"], true) << previewed.dump();
  const std::string pdf = testing::readFile(dir.file("managed.pdf"));
  EXPECT_NE(pdf.find("/BitsPerComponent 16"), std::string::npos);
  // The first sheet still shows the red page where the printer-managed preview has it.
  auto sheet = testing::renderWithPoppler(dir.file("managed.pdf"), 1, 18);
  ASSERT_TRUE(sheet);
  const size_t middle = (size_t(sheet->height / 2) * sheet->width + sheet->width / 2) * 4;
  EXPECT_GT(sheet->rgba[middle], 200);
  EXPECT_LT(sheet->rgba[middle + 2], 60);

  r["outputPath"] = dir.file("managed.png");
  json thumbnail = run("thumbnail", r);
  ASSERT_EQ(thumbnail["ok"], true) << thumbnail.dump();
  auto png = testing::decodePng(testing::readFile(dir.file("managed.png")));
  ASSERT_TRUE(png);
  const size_t centre = (size_t(png->height / 2) * png->width + png->width / 2) * 4;
  EXPECT_GT(png->rgba[centre], 200);
  EXPECT_LT(png->rgba[centre + 2], 60);

  r["colorManagement"]["profileId"] = color::profileId(profile + " ");
  json changed = run("preview", r);
  EXPECT_EQ(changed["error"], "The imported ICC profile changed. Import it again before printing.");
}

// Pools are sized by the work and capped, never by the cores alone: on a machine seen as 64 or 128
// cores every application-colour output used to fail (the threads' stacks took the memory limit),
// and each command must give the very bytes it gives on one core.
TEST_F(OutputFlow, ApplicationColourGivesTheSameFilesOnOneCoreOrAHundred) {
  const std::string profile = testing::makeLutRgbPrinterProfile("Matte Paper", 9, true);
  testing::PngOptions photo;
  photo.width = 2000;  // 480 x 720 pt: on A4 at 100 %
  photo.height = 3000;
  photo.bitDepth = 16;
  photo.pixelsPerMeterX = photo.pixelsPerMeterY = testing::pixelsPerMeter(300);
  photo.sample16 = [](uint32_t x, uint32_t y, int c) {
    return unsigned((x * 21 + y * 7 + c * 9000 + (x * y) % 977) & 0xffff);
  };
  const std::string picture = dir.write("photo.png", testing::makePng(photo));
  json r = request("");
  r["colorManagement"] = {{"mode", "application"},
                          {"profileId", color::profileId(profile)},
                          {"profilePath", dir.write("matte.icc", profile)},
                          {"renderingIntent", "perceptual"},
                          {"blackPointCompensation", true},
                          {"driverColorManagementDisabled", true}};
  std::map<std::string, std::string> first;  // output name → bytes on the first machine
  for (unsigned cores : {1u, 2u, 64u, 128u}) {
    SCOPED_TRACE(std::to_string(cores) + " cores");
    for (const auto& [file, mode, name] :
         {std::tuple{picture, "preview", "photo-preview.pdf"},
          std::tuple{picture, "thumbnail", "photo-thumbnail.png"},
          std::tuple{artwork, "preview", "text-preview.pdf"},
          std::tuple{artwork, "thumbnail", "text-thumbnail.png"}}) {
      r["filePath"] = file;
      r["outputPath"] = dir.file(name);
      const json result = run(mode, r, testing::machineShape(cores));
      ASSERT_EQ(result["ok"], true) << mode << " " << name << ": " << result.dump();
      const std::string bytes = testing::readFile(dir.file(name));
      if (!first.count(name)) first[name] = bytes;
      EXPECT_TRUE(bytes == first[name]) << name << " differs from the first machine's";
    }
  }
}

// Layers as a printed page shows them, in every output and whatever reads it: Ghostscript and
// poppler render the preview as written and without optional-content properties (as a reader that
// ignores layers reads it), and the thumbnails are read as they are.
TEST_F(OutputFlow, EveryOutputOfALayeredPageShowsWhatPrints) {
  const double width = 180 * 72 / 25.4, height = 260 * 72 / 25.4;
  const testing::LayeredPdf layered = testing::makeLayeredPdf(width, height);
  const std::string source = dir.write("layered.pdf", layered.pdf);
  const artwork::PaperGeometry paper{595.2755905511812, 841.8897637795276, 18, 18,
                                     559.2755905511812, 805.8897637795276};
  const artwork::Rect rect = artwork::placement({width, height}, 100, paper, 0, 0).rect;
  const testing::PdfBox placed{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
  const std::string profile = testing::makeLutRgbPrinterProfile("Matte Paper", 9, true);
  const json application = {{"mode", "application"},
                            {"profileId", color::profileId(profile)},
                            {"profilePath", dir.write("matte.icc", profile)},
                            {"renderingIntent", "relativeColorimetric"},
                            {"blackPointCompensation", false},
                            {"driverColorManagementDisabled", true}};
  // Inspection names the layers left out, and every output says the same.
  const std::string layersLeftOut =
      "This PDF has layers set not to print: \"Sketch\", \"Die line\". They are left out of the "
      "preview, the thumbnail and the print.";
  json inspected = run("inspect", request(""));
  const json plainWarnings = inspected["document"]["warnings"];
  json layeredRequest = request("");
  layeredRequest["filePath"] = source;
  inspected = run("inspect", layeredRequest);
  ASSERT_EQ(inspected["ok"], true) << inspected.dump();
  json expected = plainWarnings;
  expected.insert(expected.begin() + 1, layersLeftOut);
  EXPECT_EQ(inspected["document"]["warnings"], expected);
  for (bool managed : {false, true}) {
    SCOPED_TRACE(managed ? "application colour" : "printer colour");
    json r = request(dir.file("preview.pdf"));
    r["filePath"] = source;
    if (managed) r["colorManagement"] = application;
    json previewed = run("preview", r);
    ASSERT_EQ(previewed["ok"], true) << previewed.dump();
    if (!managed) {
      EXPECT_EQ(previewed["document"]["warnings"], expected);
    }
    EXPECT_EQ(previewed["document"]["warnings"][managed ? 0 : 1], layersLeftOut);
    const std::string preview = testing::readFile(dir.file("preview.pdf"));
    const std::string stripped =
        dir.write("stripped.pdf", testing::withoutOptionalContentProperties(preview));
    for (const std::string& file : {dir.file("preview.pdf"), stripped}) {
      SCOPED_TRACE(file);
      auto byGhostscript = testing::renderWithGhostscript(file, 1, 100);
      ASSERT_TRUE(byGhostscript);
      EXPECT_EQ(testing::wrongSquares(layered, *byGhostscript, placed, paper.height),
                std::vector<std::string>{});
      auto byPoppler = testing::renderWithPoppler(file, 1, 100);
      ASSERT_TRUE(byPoppler);
      EXPECT_EQ(testing::wrongSquares(layered, *byPoppler, 100 / 72.0, placed, paper.height),
                std::vector<std::string>{});
    }

    r["outputPath"] = dir.file("thumbnail.png");
    json thumbnail = run("thumbnail", r);
    ASSERT_EQ(thumbnail["ok"], true) << thumbnail.dump();
    auto png = testing::decodePng(testing::readFile(dir.file("thumbnail.png")));
    ASSERT_TRUE(png);
    EXPECT_EQ(testing::wrongSquares(layered, *png, 1200 / paper.height, placed, paper.height),
              std::vector<std::string>{});
  }

  // The history's thumbnail of a layered sheet, drawn at its own size.
  json r = request(dir.file("sheet.png"));
  r["filePath"] = source;
  json drawn = run("sheet-thumbnail", r);
  ASSERT_EQ(drawn["ok"], true) << drawn.dump();
  auto png = testing::decodePng(testing::readFile(dir.file("sheet.png")));
  ASSERT_TRUE(png);
  EXPECT_EQ(testing::wrongSquares(layered, *png, 1200 / height, {0, 0, width, height}, height),
            std::vector<std::string>{});
}

TEST_F(OutputFlow, RefusesOutputsThatReachTheArtworkOrTheSettings) {
  const std::string artworkBytes = testing::readFile(artwork);
  const std::string settingsBytes = testing::readFile(snapshotPath);
  ::symlink(artwork.c_str(), dir.file("link.pdf").c_str());
  std::filesystem::create_directory(dir.file("sub"));
  const char* message = "The preview path must not overwrite the artwork or saved settings.";
  for (const std::string& output :
       {dir.file("link.pdf"), dir.path() + "/sub/../art.pdf", dir.path() + "/./art.pdf",
        snapshotPath, dir.path() + "/sub/../preset.json"}) {
    for (const char* mode : {"preview", "thumbnail"}) {
      SCOPED_TRACE(std::string(mode) + " " + output);
      json result = run(mode, request(output));
      EXPECT_EQ(lastExit, 1);
      EXPECT_EQ(result["error"], message);
    }
  }
  EXPECT_EQ(testing::readFile(artwork), artworkBytes);
  EXPECT_EQ(testing::readFile(snapshotPath), settingsBytes);
}

TEST_F(OutputFlow, OutputPathMustBePresentAndAbsolute) {
  EXPECT_EQ(run("preview", request(""))["error"], "A preview output path is required.");
  EXPECT_EQ(run("thumbnail", request("out.png"))["error"], "Preview needs an absolute file path.");
}

TEST_F(OutputFlow, AFailedCommandLeavesTheExistingFileAsItWas) {
  const std::string output = dir.write("existing.pdf", "precious bytes");
  const auto before = outputs();

  // Refused: the artwork does not fit at 200 %.
  json tooBig = request(output);
  tooBig["scalePercent"] = 200;
  tooBig["filePath"] = dir.write("big.pdf", testing::makeFixturePdf({filled(400, 400, 0, 1, 0)}));
  EXPECT_EQ(run("preview", tooBig)["error"],
            "The artwork exceeds the paper. Choose a smaller scale or larger paper before "
            "previewing.");
  EXPECT_EQ(testing::readFile(output), "precious bytes");

  // Injected write failure: a 1 KiB file-size limit makes the write of the new file fail.
  for (const char* mode : {"preview", "thumbnail"}) {
    const std::string requestPath = dir.write("request-limited.json", request(output).dump());
    auto out = testing::runProcess({"/bin/bash", "-c",
                                    "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$1\" \"$2\"",
                                    VARDELLE_BINARY, mode, requestPath});
    std::filesystem::remove(requestPath);
    EXPECT_EQ(out.exitStatus, 1) << mode;
    json result = json::parse(out.out);
    EXPECT_EQ(result["ok"], false);
    EXPECT_NE(result["error"].get<std::string>().find("existing.pdf"), std::string::npos)
        << result.dump();
    EXPECT_EQ(testing::readFile(output), "precious bytes");
  }
  std::filesystem::remove(dir.file("big.pdf"));
  EXPECT_EQ(outputs(), before);
}

// A chart of 4 × 3 flat patches, each 100 pixels (72 pt) square: six saturated colours that the
// small printer's gamut does not reach (red, green, blue, magenta, cyan, yellow) and six that it
// does (white, greys, muted colours).
using Rgb = std::array<int, 3>;
const std::array<Rgb, 12> kChart = {Rgb{255, 0, 0},  {0, 255, 0},     {0, 0, 255},
                                    {255, 255, 255}, {255, 0, 255},   {0, 255, 255},
                                    {255, 255, 0},   {128, 128, 128}, {200, 180, 160},
                                    {90, 110, 130},  {150, 120, 100}, {60, 60, 60}};
bool outOfGamut(std::size_t patch) { return patch < 3 || (patch >= 4 && patch <= 6); }

int largestDifference(const testing::DecodedImage::Pixel& p, const Rgb& c) {
  return std::max({std::abs(p.r - c[0]), std::abs(p.g - c[1]), std::abs(p.b - c[2])});
}
Rgb rgbOf(const testing::DecodedImage::Pixel& p) { return {p.r, p.g, p.b}; }

class SoftProofThumbnail : public OutputFlow {
 protected:
  void SetUp() override {
    OutputFlow::SetUp();
    testing::PngOptions png;
    png.width = 400;
    png.height = 300;
    png.pixelsPerMeterX = png.pixelsPerMeterY = testing::pixelsPerMeter(300);
    png.sample = [](uint32_t x, uint32_t y, int c) {
      return unsigned(kChart[y / 100 * 4 + x / 100][c]);
    };
    pngChart = dir.write("chart.png", testing::makePng(png));
    std::vector<unsigned char> rgb;
    for (uint32_t y = 0; y < 300; ++y) {
      for (uint32_t x = 0; x < 400; ++x) {
        for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<unsigned char>(png.sample(x, y, c)));
      }
    }
    tiffChart = dir.file("chart.tif");
    testing::writeRgbTiff(tiffChart, 400, 300, rgb);
    testing::FixturePage page;
    page.mediaBox = {0, 0, 288, 216};
    for (std::size_t i = 0; i < kChart.size(); ++i) {
      page.content +=
          testing::fillRect(double(i % 4) * 72, 216 - double(i / 4 + 1) * 72, 72, 72,
                            kChart[i][0] / 255.0, kChart[i][1] / 255.0, kChart[i][2] / 255.0);
    }
    pdfChart = dir.write("chart.pdf", testing::makeFixturePdf({page}));
    profile = testing::makeSmallGamutPrinterProfile("Small Printer", 17);
    profilePath = dir.write("small.icc", profile);
  }

  json proofRequest(const std::string& art, const std::string& output, const json& proof,
                    const std::string& intent = "perceptual", bool bpc = true) const {
    json r = request(output);
    r["filePath"] = art;
    r["colorManagement"] = {
        {"mode", "application"},         {"profileId", color::profileId(profile)},
        {"profilePath", profilePath},    {"renderingIntent", intent},
        {"blackPointCompensation", bpc}, {"driverColorManagementDisabled", true}};
    r["softProof"] = proof;
    return r;
  }

  /// The thumbnail pixel at the centre of each patch of a chart of `size` points placed at 100 %.
  std::vector<testing::DecodedImage::Pixel> patchCentres(const testing::DecodedImage& thumbnail,
                                                         artwork::Size size) const {
    const artwork::PagePlacement placed = artwork::placement(size, 100, snapshot.paper, 0, 0);
    const double s = artwork::thumbnailSize(snapshot.paper).pixelsPerPoint;
    std::vector<testing::DecodedImage::Pixel> centres;
    for (std::size_t i = 0; i < kChart.size(); ++i) {
      const double x = (placed.rect.x + placed.rect.width * (double(i % 4) + 0.5) / 4) * s;
      const double top = thumbnail.height - (placed.rect.y + placed.rect.height) * s;
      const double y = top + placed.rect.height * (double(i / 4) + 0.5) / 3 * s;
      centres.push_back(thumbnail.at(int(x), int(y)));
    }
    return centres;
  }

  std::string pngChart, tiffChart, pdfChart, profile, profilePath;
};

TEST_F(SoftProofThumbnail, MarksWhatThePrinterCannotReproduceAndCountsItForPngAndPdf) {
  const json marks = {{"gamutWarning", true}, {"gamutWarningColor", "#00fF00"}};
  for (const std::string& art : {pngChart, pdfChart}) {
    SCOPED_TRACE(art);
    const artwork::Size size = art == pngChart ? artwork::Size{96, 72} : artwork::Size{288, 216};
    json result = run("thumbnail", proofRequest(art, dir.file("marked.png"), marks));
    ASSERT_EQ(result["ok"], true) << result.dump();
    // The patches are whole pixels of the conversion raster, so the share is exact.
    EXPECT_EQ(result["document"]["outOfGamutPercent"], 50.0);
    EXPECT_NE(result["document"]["warnings"].back().get<std::string>().find(
                  "soft proof of Small Printer"),
              std::string::npos)
        << result.dump();
    auto marked = testing::decodePng(testing::readFile(dir.file("marked.png")));
    ASSERT_TRUE(marked);
    EXPECT_EQ(marked->width, 849);
    const auto centres = patchCentres(*marked, size);
    for (std::size_t i = 0; i < kChart.size(); ++i) {
      EXPECT_EQ(rgbOf(centres[i]) == (Rgb{0, 255, 0}), outOfGamut(i)) << "patch " << i;
    }

    // The count is the same when nothing is painted, and so is every patch in the gamut.
    json plain = run("thumbnail", proofRequest(art, dir.file("plain.png"), json::object()));
    ASSERT_EQ(plain["ok"], true) << plain.dump();
    EXPECT_EQ(plain["document"]["outOfGamutPercent"], 50.0);
    auto unmarked = testing::decodePng(testing::readFile(dir.file("plain.png")));
    ASSERT_TRUE(unmarked);
    const auto plainCentres = patchCentres(*unmarked, size);
    for (std::size_t i = 0; i < kChart.size(); ++i) {
      if (!outOfGamut(i)) {
        EXPECT_EQ(rgbOf(plainCentres[i]), rgbOf(centres[i])) << "patch " << i;
      }
      EXPECT_NE(rgbOf(plainCentres[i]), (Rgb{0, 255, 0})) << "patch " << i;
    }
  }
}

TEST_F(SoftProofThumbnail, AgreesWithTificcOnFlatPatchesWithAndWithoutPaperWhite) {
  struct Case {
    std::string intent;
    bool bpc;
    bool paperWhite;
  };
  std::vector<Rgb> whites;
  for (const Case& c : {Case{"perceptual", true, true}, Case{"perceptual", true, false},
                        Case{"relativeColorimetric", false, true}}) {
    SCOPED_TRACE(c.intent + (c.paperWhite ? ", paper white" : ""));
    // tificc marks with LittleCMS's default alarm, 0x7F00 in 16 bits.
    json result = run("thumbnail", proofRequest(pngChart, dir.file("proof.png"),
                                                {{"paperWhite", c.paperWhite},
                                                 {"gamutWarning", true},
                                                 {"gamutWarningColor", "#7F7F7F"}},
                                                c.intent, c.bpc));
    ASSERT_EQ(result["ok"], true) << result.dump();
    std::vector<std::string> tificc = {"/usr/bin/tificc",
                                       "-t" + std::string(c.intent == "perceptual" ? "0" : "1"),
                                       "-p" + profilePath, c.paperWhite ? "-m3" : "-m1", "-g"};
    if (c.bpc) tificc.push_back("-b");
    tificc.push_back(tiffChart);
    tificc.push_back(dir.file("tificc.tif"));
    auto peer = testing::runProcess(tificc);
    ASSERT_EQ(peer.exitStatus, 0) << peer.err;
    auto reference = testing::readTiff(dir.file("tificc.tif"));
    ASSERT_TRUE(reference);
    auto proof = testing::decodePng(testing::readFile(dir.file("proof.png")));
    ASSERT_TRUE(proof);
    const auto centres = patchCentres(*proof, {96, 72});
    for (std::size_t i = 0; i < kChart.size(); ++i) {
      const auto expected = reference->at(int(i % 4) * 100 + 50, int(i / 4) * 100 + 50);
      EXPECT_LE(largestDifference(centres[i], rgbOf(expected)), 3)
          << "patch " << i << ": " << centres[i].r << "," << centres[i].g << "," << centres[i].b
          << " against tificc's " << expected.r << "," << expected.g << "," << expected.b;
    }
    // The unprinted sheet around the picture is the paper the white patch shows.
    EXPECT_LE(largestDifference(proof->at(3, 3), rgbOf(centres[3])), 1);
    whites.push_back(rgbOf(centres[3]));
  }
  // The paper (L* 93, warm, not D50) shows as such with paper white, as screen white without.
  EXPECT_EQ(whites[1], (Rgb{255, 255, 255}));
  EXPECT_LT(whites[0][0], 245);
  EXPECT_LT(whites[0][2], whites[0][0] - 5);
}

TEST_F(SoftProofThumbnail, RefusedWithPrinterColourAndForBadValuesLeavingNoFile) {
  const std::string output = dir.file("refused.png");
  json printerColour = proofRequest(pngChart, output, json::object());
  printerColour["colorManagement"]["mode"] = "printer";
  json noColour = printerColour;
  noColour.erase("colorManagement");
  for (const json& r : {printerColour, noColour}) {
    json result = run("thumbnail", r);
    EXPECT_EQ(lastExit, 1);
    EXPECT_EQ(result["error"],
              "A soft proof needs application-managed color with a printer ICC profile: with "
              "printer-managed color the printer driver decides the printed colors, so there is "
              "nothing to proof.");
  }
  EXPECT_EQ(
      run("thumbnail", proofRequest(pngChart, output, {{"gamutWarningColor", "#80808"}}))["error"],
      "Choose a gamut warning color written as #RRGGBB, for example #808080.");
  // Checked with the other fields: the colour of a proof another command ignores too.
  EXPECT_EQ(
      run("preview", proofRequest(pngChart, output, {{"gamutWarningColor", "grey"}}))["error"],
      "Choose a gamut warning color written as #RRGGBB, for example #808080.");
  for (const auto& [key, value] : {std::pair<std::string, json>{"paperWhite", "yes"},
                                   {"gamutWarning", 1},
                                   {"gamutWarningColor", 128}}) {
    const std::string error =
        run("thumbnail", proofRequest(pngChart, output, {{key, value}}))["error"];
    EXPECT_NE(error.find("\"" + key + "\" in \"softProof\""), std::string::npos) << error;
  }
  EXPECT_NE(run("thumbnail", proofRequest(pngChart, output, true))["error"].get<std::string>().find(
                "\"softProof\""),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(SoftProofThumbnail, WithoutAProofTheThumbnailIsWhatItWas) {
  json absent = proofRequest(pngChart, dir.file("absent.png"), nullptr);
  absent.erase("softProof");
  json null = proofRequest(pngChart, dir.file("null.png"), nullptr);
  json a = run("thumbnail", absent), b = run("thumbnail", null);
  ASSERT_EQ(a["ok"], true) << a.dump();
  EXPECT_EQ(a["document"], b["document"]);
  EXPECT_FALSE(a["document"].contains("outOfGamutPercent"));
  EXPECT_EQ(testing::readFile(dir.file("absent.png")), testing::readFile(dir.file("null.png")));
  // Other commands ignore a proof.
  json preview = run("preview", proofRequest(pngChart, dir.file("p.pdf"), {{"paperWhite", false}}));
  ASSERT_EQ(preview["ok"], true) << preview.dump();
  EXPECT_FALSE(preview["document"].contains("outOfGamutPercent"));
}

class SheetThumbnail : public OutputFlow {};

TEST_F(SheetThumbnail, DescribesEveryPageAndDrawsTheFirstAtItsOwnSize) {
  const std::string sheet = dir.write(
      "sheet.pdf", testing::makeFixturePdf({filled(360, 180, 1, 0, 0), filled(500, 500, 0, 0, 1),
                                            filled(100, 100, 0, 1, 0)}));
  json r = {{"printerName", "ignored"}, {"snapshotPath", "/nowhere.json"},
            {"scalePercent", 500},      {"offsetXmm", 400},
            {"filePath", sheet},        {"outputPath", dir.file("history.png")}};
  json result = run("sheet-thumbnail", r);
  ASSERT_EQ(result["ok"], true) << result.dump();
  EXPECT_EQ(result["outputPath"], dir.file("history.png"));
  EXPECT_FALSE(result.contains("summary"));
  const json& document = result["document"];
  EXPECT_EQ(document["pageCount"], 3);
  ASSERT_EQ(document["pages"].size(), 3u);
  EXPECT_DOUBLE_EQ(document["pages"][0]["widthMm"].get<double>(), 360 * 25.4 / 72);
  EXPECT_DOUBLE_EQ(document["pages"][1]["scaledHeightMm"].get<double>(), 500 * 25.4 / 72);
  EXPECT_FALSE(document.contains("fits"));
  EXPECT_EQ(document["requiresClipping"], false);
  EXPECT_EQ(document["warnings"].back(),
            "Save Printer Settings to check paper size and printable margins.");

  // Page 1 alone fills the whole picture, at 100 % whatever the request says.
  auto png = testing::decodePng(testing::readFile(dir.file("history.png")));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 1200);
  EXPECT_EQ(png->height, 600);
  for (auto [x, y] : {std::pair{1, 1}, {1198, 1}, {1, 598}, {1198, 598}, {600, 300}}) {
    auto p = png->at(x, y);
    EXPECT_TRUE(p.r > 240 && p.g < 15 && p.b < 15) << x << "," << y;
  }
}

TEST_F(SheetThumbnail, RefusesBadDestinationsAndMissingFields) {
  const std::string sheet =
      dir.write("sheet.png.pdf", testing::makeFixturePdf({filled(100, 100, 1, 0, 0)}));
  json r = {{"printerName", "P"},
            {"snapshotPath", "/s.json"},
            {"scalePercent", 100},
            {"filePath", sheet}};
  const char* invalid = "Invalid history preview destination.";
  r["outputPath"] = dir.file("upper.PNG");
  EXPECT_EQ(run("sheet-thumbnail", r)["error"], invalid);
  r["outputPath"] = dir.file("picture.jpg");
  EXPECT_EQ(run("sheet-thumbnail", r)["error"], invalid);
  ::symlink(sheet.c_str(), dir.file("same.png").c_str());
  r["outputPath"] = dir.file("same.png");
  EXPECT_EQ(run("sheet-thumbnail", r)["error"], invalid);
  r["outputPath"] = "relative.png";
  EXPECT_EQ(run("sheet-thumbnail", r)["error"], "Preview needs an absolute file path.");

  const char* required = "A source sheet and preview destination are required.";
  r["outputPath"] = dir.file("fine.png");
  json withCopies = r;
  withCopies["copies"] = 1;
  EXPECT_EQ(run("sheet-thumbnail", withCopies)["error"], required);
  json noSource = r;
  noSource.erase("filePath");
  EXPECT_EQ(run("sheet-thumbnail", noSource)["error"], required);
  json noDestination = r;
  noDestination.erase("outputPath");
  EXPECT_EQ(run("sheet-thumbnail", noDestination)["error"], required);
  EXPECT_FALSE(std::filesystem::exists(dir.file("fine.png")));
}

}  // namespace
}  // namespace vardelle::app
