#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "artwork/paper_geometry.h"
#include "printing/settings/snapshot.h"
#include "testing/failure.h"
#include "testing/pdf_fixtures.h"
#include "testing/png_fixtures.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::app {
namespace {

using testing::failureLine;
using testing::runVardelle;
using testing::TempDir;

// A number as the result line writes it.
std::string num(double v) { return nlohmann::json(v).dump(); }
std::string mm(double points) { return num(points * 25.4 / 72); }

struct Preset {
  TempDir dir;
  std::string snapshotPath = dir.file("preset.json");

  std::string request(const std::string& artwork, const std::string& extra = "") const {
    return dir.write("request.json", "{\"filePath\":\"" + artwork +
                                         "\",\"printerName\":\"Studio Printer\",\"printerId\":"
                                         "\"urn:uuid:1234\",\"snapshotPath\":\"" +
                                         snapshotPath + "\",\"scalePercent\":100" + extra + "}");
  }

  void save(const std::optional<std::string>& colorMode = "color") const {
    printing::NativeSnapshot s;
    s.printerId = "urn:uuid:1234";
    s.printerName = "Studio Printer";
    s.archive = "opaque";
    s.paper = {595.28, 841.89, 18, 18, 559.28, 805.89};
    s.summary = {"A4", 210, 297, "portrait", 1, "Studio Printer", colorMode};
    dir.write("preset.json", s.toFileBytes());
  }
};

const std::string kPdfWarning =
    "Color is handled by macOS and the printer; no app ICC conversion is applied.";
const std::string kPdfColor =
    R"x("sourceColorProfile":"PDF document color spaces (embedded RGB\/CMYK interpreted by Core Graphics)")x";

TEST(InspectCommand, PdfWithoutSnapshotAsksForPrinterSettings) {
  Preset preset;
  const std::string pdf = preset.dir.write("art.pdf", testing::makePdfOfPages(2, 612, 792));
  auto run = runVardelle("inspect", preset.request(pdf, ",\"scalePercent\":50"));
  const std::string page =
      "{\"heightMm\":" + mm(792) + ",\"scaledHeightMm\":" + num(792 * 25.4 / 72 * 50 / 100) +
      ",\"scaledWidthMm\":" + num(612 * 25.4 / 72 * 50 / 100) + ",\"widthMm\":" + mm(612) + "}";
  EXPECT_EQ(run.out,
            "{\"document\":{\"colorManagement\":\"Printer-managed\",\"format\":\"PDF\","
            "\"pageCount\":2,\"pages\":[" +
                page + "," + page + "],\"requiresClipping\":false," + kPdfColor +
                ",\"warnings\":[\"" + kPdfWarning +
                "\",\"Save Printer Settings to check paper size and printable margins.\"]},"
                "\"ok\":true}\n");
  EXPECT_EQ(run.exitStatus, 0);
}

TEST(InspectCommand, PngWithSnapshotIsJudgedAgainstTheSavedPaper) {
  Preset preset;
  preset.save();
  testing::PngOptions options;
  options.width = 3000;
  options.height = 1500;
  const std::string png = preset.dir.write("art.png", testing::makePng(options));
  auto run = runVardelle("inspect", preset.request(png, ",\"pngDpi\":600,\"offsetXmm\":50"));
  EXPECT_EQ(
      run.out,
      "{\"document\":{\"colorManagement\":\"Printer-managed\",\"dpiX\":600.0,\"dpiY\":600.0,"
      "\"fits\":true,\"format\":\"PNG\",\"pageCount\":1,\"pages\":[{\"heightMm\":" +
          mm(180) + ",\"scaledHeightMm\":" + num(180 * 25.4 / 72 * 100 / 100) +
          ",\"scaledWidthMm\":" + num(360 * 25.4 / 72 * 100 / 100) + ",\"widthMm\":" + mm(360) +
          "}],"
          "\"requiresClipping\":true,\"sourceColorProfile\":\"Untagged PNG \xE2\x80\x94 assumed "
          "sRGB\",\"warnings\":[\"" +
          kPdfWarning +
          "\",\"PNG size uses the explicit DPI override in this preset.\",\"Untagged PNG "
          "\xE2\x80\x94 assumed sRGB\",\"Page 1 extends into the printer's unprintable "
          "margins. Preview shows the clipped result; printing requires acknowledgment.\"]},"
          "\"ok\":true,\"summary\":{\"colorMode\":\"color\",\"copies\":1,\"orientation\":"
          "\"portrait\",\"paperHeightMm\":297.0,\"paperName\":\"A4\",\"paperWidthMm\":210.0,"
          "\"printerName\":\"Studio Printer\"}}\n");
}

TEST(InspectCommand, RefusalsComeInRoutingOrder) {
  Preset preset;
  const std::string pdf = preset.dir.write("art.pdf", testing::makePdfOfPages(1));
  EXPECT_EQ(runVardelle("inspect", preset.request(pdf, ",\"copies\":2")).out,
            failureLine("A copies override can only be used when printing; saved preset copies "
                        "remain unchanged."));
  // The file is not looked at before its path is known to be there.
  EXPECT_EQ(runVardelle("inspect", preset.request("")).out,
            failureLine("Choose a PDF or PNG file first."));

  const std::string application =
      ",\"colorManagement\":{\"mode\":\"application\",\"profileId\":\"icc-00\",\"profilePath\":"
      "\"/nonexistent.icc\",\"renderingIntent\":\"perceptual\",\"blackPointCompensation\":true,"
      "\"driverColorManagementDisabled\":true}";
  // Without a snapshot the black-and-white check has nothing to look at.
  EXPECT_NE(runVardelle("inspect", preset.request(pdf, application)).out,
            failureLine("This preset is set to black and white. Choose Color in Printer settings "
                        "before using an RGB printer profile."));
  preset.save("monochrome");
  EXPECT_EQ(runVardelle("inspect", preset.request(pdf, application)).out,
            failureLine("This preset is set to black and white. Choose Color in Printer settings "
                        "before using an RGB printer profile."));
  // A monochrome preset is fine with printer-managed colour.
  EXPECT_EQ(runVardelle("inspect", preset.request(pdf)).exitStatus, 0);
  // An unusable snapshot fails inspect too, before the artwork is opened.
  preset.dir.write("preset.json", "not json");
  EXPECT_EQ(runVardelle("inspect", preset.request(preset.dir.file("missing.pdf"))).out,
            failureLine("The preset's saved printer settings could not be read. Save Printer "
                        "Settings again or recreate the preset."));
}

TEST(InspectCommand, PageLargerThanThePaperIsReported) {
  Preset preset;
  const std::string pdf = preset.dir.write("art.pdf", testing::makePdfOfPages(1));
  const std::string big = preset.dir.write("big.pdf", testing::makePdfOfPages(1, 2000, 100));
  preset.save();
  auto line = nlohmann::json::parse(runVardelle("inspect", preset.request(big)).out);
  EXPECT_EQ(line["document"]["fits"], false);
  EXPECT_EQ(line["document"]["warnings"].back(),
            "Page 1 exceeds the physical paper at this scale. Reduce the scale or choose larger "
            "paper.");
  EXPECT_EQ(runVardelle("inspect", preset.request(pdf)).exitStatus, 0);
}

// The libraries the dynamic loader opened while `inspect` ran on `artwork`, as LD_DEBUG lists them.
std::string librariesLoadedToInspect(const Preset& preset, const std::string& artwork) {
  auto run =
      runVardelle("inspect", preset.request(artwork, ",\"pngDpi\":300"), {{"LD_DEBUG", "files"}});
  EXPECT_EQ(run.exitStatus, 0) << run.out;
  return run.err;
}

TEST(InspectCommand, QpdfAndDigestsAreLoadedOnlyForAPdfThatNeedsQpdf) {
  Preset preset;
  const std::string png = preset.dir.write("Photo.PNG", testing::makePng({}));
  const std::string pdf = preset.dir.write("art.pdf", testing::makePdfOfPages(3));
  // A cross-reference table that points nowhere: qpdf rebuilds it, the plain reader declines.
  std::string damaged = testing::makePdfOfPages(3);
  damaged.replace(damaged.rfind("startxref") + 10, 1, "9");
  const std::string repaired = preset.dir.write("repaired.pdf", damaged);

  const std::string forPng = librariesLoadedToInspect(preset, png);
  EXPECT_NE(forPng.find("libpng16"), std::string::npos) << forPng;
  for (const std::string& loaded : {forPng, librariesLoadedToInspect(preset, pdf)}) {
    EXPECT_EQ(loaded.find("libqpdf"), std::string::npos);
    EXPECT_EQ(loaded.find("libcrypto"), std::string::npos);
  }
  EXPECT_NE(librariesLoadedToInspect(preset, repaired).find("libqpdf"), std::string::npos);
  // Either way the answer is the same.
  EXPECT_EQ(runVardelle("inspect", preset.request(repaired)).out,
            runVardelle("inspect", preset.request(pdf)).out);
}

TEST(InspectCommand, HostileArtworkEndsInOneLine) {
  Preset preset;
  std::string png = testing::makePng({});
  png.resize(png.size() / 2);
  const std::string cases[][2] = {
      {"bad.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\ntrailer <<>>"},
      {"bad.png", png},
      {"huge.png", testing::insertBeforeImageData(testing::makePng({}),
                                                  std::string("\xFF\xFF\xFF\xF0tEXt", 8))},
  };
  for (const auto& c : cases) {
    auto run =
        runVardelle("inspect", preset.request(preset.dir.write(c[0], c[1]), ",\"pngDpi\":72"));
    EXPECT_EQ(run.exitStatus, 1) << c[0];
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_FALSE(nlohmann::json::parse(run.out)["ok"]);
  }
}

}  // namespace
}  // namespace vardelle::app
