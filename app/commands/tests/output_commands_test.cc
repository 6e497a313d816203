#include "app/commands/output_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "artwork/placement.h"
#include "color/output_profile.h"
#include "printing/settings/snapshot.h"
#include "testing/icc_fixtures.h"
#include "testing/layered_pdf.h"
#include "testing/pdf_maker.h"
#include "testing/raster_probe.h"
#include "testing/ruler.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

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
    printing::NativeSnapshot snapshot;
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
  for (bool managed : {false, true}) {
    SCOPED_TRACE(managed ? "application colour" : "printer colour");
    json r = request(dir.file("preview.pdf"));
    r["filePath"] = source;
    if (managed) r["colorManagement"] = application;
    json previewed = run("preview", r);
    ASSERT_EQ(previewed["ok"], true) << previewed.dump();
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
