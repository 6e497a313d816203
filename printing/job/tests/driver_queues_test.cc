// Queues made from the drivers Debian ships, printing to a file: settings through the real
// dialog, then a ruler printed with an offset and measured where it lands in what the printer
// receives, and in the preview, against where placement puts it. With application-managed
// colour a Gutenprint driver receives the 16-bit raster the helper writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/placement.h"
#include "color/output_profile.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/raster_page_header.h"
#include "printing/settings/print_color_entries.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"
#include "testing/cups_rig.h"
#include "testing/edited_text.h"
#include "testing/icc_fixtures.h"
#include "testing/layered_pdf.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/print_snapshot.h"
#include "testing/ruler.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/xvfb.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;
using testing::PointMm;

constexpr double kMm = 72.0 / 25.4;
constexpr int kDpi = 300;
constexpr double kOffsetXmm = 4.5;
constexpr double kOffsetYmm = -3;

enum class Output { pdf, postscript, raster, gutenprint };

struct DriverQueue {
  const char* name;
  const char* model;
  Output output;
};

const DriverQueue kQueues[] = {
    {"epson-p800", "gutenprint.5.3://escp2-p800/expert", Output::gutenprint},
    {"canon-pro9000", "gutenprint.5.3://bjc-PIXMA-Pro9000mk2/expert", Output::gutenprint},
    {"generic-ps", "drv:///sample.drv/generic.ppd", Output::postscript},
    {"generic-pdf", "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", Output::pdf},
    {"generic-pwg", "drv:///cupsfilters.drv/pwgrast.ppd", Output::raster},
};

// Where the ruler's squares should be on the sheet, in millimetres from its top-left corner.
std::vector<PointMm> expectedSquares(const artwork::PaperGeometry& paper,
                                     const testing::Ruler& ruler, double offsetXmm = kOffsetXmm,
                                     double offsetYmm = kOffsetYmm) {
  const artwork::PagePlacement placed = artwork::placement(
      {ruler.widthMm * kMm, ruler.heightMm * kMm}, 100, paper, offsetXmm, offsetYmm);
  std::vector<PointMm> squares;
  for (const PointMm& c : ruler.centres) {
    const double x = placed.rect.x + c.x * kMm;
    const double y = placed.rect.y + c.y * kMm;
    squares.push_back({x / kMm, (paper.height - y) / kMm});
  }
  return squares;
}

// A landscape sheet as it lies on portrait media once the filters have turned it by `degrees`
// (the PPD's *LandscapeOrientation: +90 turns it counter-clockwise, -90 clockwise).
PointMm onPortraitMedia(PointMm landscape, double sheetWidthMm, double sheetHeightMm, int degrees) {
  if (degrees > 0) return {landscape.y, sheetWidthMm - landscape.x};
  return {sheetHeightMm - landscape.y, landscape.x};
}

struct Measurement {
  double worstMm = INFINITY;  ///< the largest distance of a square from where it belongs
  double scale = 0;           ///< measured over expected distance of the two farthest squares
};

Measurement measure(const std::vector<PointMm>& expected, const std::vector<PointMm>& found) {
  Measurement m;
  if (found.size() != expected.size()) return m;
  m.worstMm = 0;
  std::vector<PointMm> matched;
  for (const PointMm& e : expected) {
    const PointMm* nearest = nullptr;
    double best = INFINITY;
    for (const PointMm& f : found) {
      const double d = std::hypot(f.x - e.x, f.y - e.y);
      if (d < best) best = d, nearest = &f;
    }
    matched.push_back(*nearest);
    m.worstMm = std::max(m.worstMm, best);
  }
  // The first and fourth squares of the standard ruler are its farthest pair.
  const double want = std::hypot(expected[3].x - expected[0].x, expected[3].y - expected[0].y);
  const double got = std::hypot(matched[3].x - matched[0].x, matched[3].y - matched[0].y);
  m.scale = got / want;
  return m;
}

class DriverQueues : public ::testing::Test {
 protected:
  json request(const std::string& queue, const std::string& artwork) const {
    return {{"printerName", queue},        {"snapshotPath", dir.file(queue + ".json")},
            {"scalePercent", 100},         {"filePath", artwork},
            {"offsetXmm", kOffsetXmm},     {"offsetYmm", kOffsetYmm},
            {"acceptMarginClipping", true}};
  }

  std::map<std::string, std::string> env() const { return xvfb.helperEnv(rig.environment()); }

  json run(const std::string& mode, const json& r) const {
    const std::string path = dir.write(mode + "-request.json", r.dump());
    testing::ProcessOutput out = testing::runVardelle(mode, path, env());
    lastError = out.err;
    return json::parse(out.out);
  }

  // `print` with `r`, which must succeed; then the id of the job `queue` completes as its
  // `jobsSoFar`-th (counted up here), or 0 when none completed.
  int printedJob(const std::string& queue, const json& r, size_t& jobsSoFar) const {
    json printed = run("print", r);
    EXPECT_EQ(printed["ok"], true) << printed.dump() << lastError;
    if (printed["ok"] != true) return 0;
    const std::vector<int> jobs = rig.waitForCompletedJobs(queue, ++jobsSoFar);
    EXPECT_EQ(jobs.size(), jobsSoFar) << "the job did not complete";
    return jobs.size() == jobsSoFar ? jobs.back() : 0;
  }

  // `settings` through the dialog, confirmed with Return as a user would.
  json saveSettings(const std::string& queue) const {
    json r = request(queue, "");
    r.erase("filePath");
    const std::string path = dir.write("settings-request.json", r.dump());
    std::thread user([&] { testing::answerWindow(xvfb.display(), "Printer Settings", "Return"); });
    testing::ProcessOutput out = testing::runVardelle("settings", path, env());
    user.join();
    lastError = out.err;
    return json::parse(out.out);
  }

  // A preset saved earlier with `entry` in `orientation`, so that the dialog starts there.
  void presetEarlier(const std::string& queue, const std::string& entry,
                     Orientation orientation) const {
    PrintSettings settings(queue);
    EXPECT_TRUE(settings.setOption(PrintSettings::kPageSize, entry));
    settings.setOrientation(orientation);
    NativeSnapshot saved = testing::savedSnapshot(settings, false);
    dir.write(queue + ".json", saved.toFileBytes());
  }

  // The printed sheet, as the printer received it, as darkness at its own resolution.
  std::optional<testing::DarknessImage> received(const DriverQueue& queue, int jobId) const {
    const std::string output = rig.driverOutput(queue.name);
    switch (queue.output) {
      case Output::pdf: {
        // The PDF printer's PPD wraps the document in PJL, which a PDF reader does not skip.
        const std::string bytes = testing::readFile(output);
        const size_t start = bytes.find("%PDF-");
        const size_t end = bytes.rfind("%%EOF");
        if (start == std::string::npos || end == std::string::npos) return std::nullopt;
        const std::string pdf = dir.write("received.pdf", bytes.substr(start, end + 5 - start));
        return testing::renderWithGhostscript(pdf, 1, kDpi);
      }
      case Output::postscript:
        return testing::renderWithGhostscript(output, 1, kDpi);
      case Output::raster: {
        auto pages = testing::readCupsRaster(output);
        if (!pages) return std::nullopt;
        return pages->front();
      }
      case Output::gutenprint: {
        const std::optional<std::string> raster = remadeRaster(queue.name, jobId);
        if (!raster) return std::nullopt;
        auto pages = testing::readCupsRaster(*raster);
        if (!pages) return std::nullopt;
        return pages->front();
      }
    }
    return std::nullopt;
  }

  // The raster a Gutenprint driver was handed for a PDF job.
  std::optional<std::string> remadeRaster(const std::string& queue, int jobId) const {
    return rig.remadeDriverRaster(queue, jobId, dir.file(queue + ".ras"));
  }

  // A preset for `queue` on its A4 entry in `orientation` with `options`, saved without the
  // dialog.
  void presetNow(const std::string& queue, Orientation orientation,
                 const std::vector<PrintOption>& options = {}) const {
    PrintSettings settings(queue);
    EXPECT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
    settings.setOrientation(orientation);
    for (const PrintOption& option : options) {
      EXPECT_TRUE(settings.setOption(option.name, option.value));
    }
    dir.write(queue + ".json", testing::savedSnapshot(settings, false).toFileBytes());
  }

  // Colour settings that convert to a printer profile written for the test.
  json applicationColor() const {
    const std::string profile = testing::makeLutRgbPrinterProfile("Test RGB Printer", 17);
    return {{"mode", "application"},
            {"profileId", color::profileId(profile)},
            {"profilePath", dir.write("printer.icc", profile)},
            {"renderingIntent", "relativeColorimetric"},
            {"blackPointCompensation", true},
            {"driverColorManagementDisabled", true}};
  }

  testing::TempDir dir;
  testing::CupsRig rig;
  testing::Xvfb xvfb;
  mutable std::string lastError;
};

TEST_F(DriverQueues, RulerLandsWherePlacementPutsItInPrintAndPreview) {
  const testing::Ruler ruler = testing::standardRuler();
  const std::string artwork = dir.write("ruler.pdf", testing::makeRulerPdf(ruler));
  size_t jobsSoFar = 0;
  for (const DriverQueue& queue : kQueues) {
    rig.addDriverQueue(queue.name, queue.model);
    auto ppd = QueuePpd::fromFile(rig.queuePpd(queue.name));
    ASSERT_TRUE(ppd) << queue.name;
    for (Orientation orientation : {Orientation::portrait, Orientation::landscape}) {
      const bool landscape = orientation == Orientation::landscape;
      SCOPED_TRACE(std::string(queue.name) + (landscape ? " landscape" : " portrait"));
      if (landscape) presetEarlier(queue.name, "A4", orientation);

      json saved = saveSettings(queue.name);
      ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
      EXPECT_EQ(saved["summary"]["paperName"], "A4");
      EXPECT_EQ(saved["summary"]["orientation"], landscape ? "landscape" : "portrait");
      const json snapshot =
          json::parse(testing::readFile(dir.file(std::string(queue.name) + ".json")));
      const artwork::PaperGeometry paper =
          artwork::PaperGeometry::fromJson(snapshot["paper"], "paper");
      const std::vector<PointMm> expected = expectedSquares(paper, ruler);

      json previewRequest = request(queue.name, artwork);
      previewRequest["outputPath"] = dir.file("preview.pdf");
      json previewed = run("preview", previewRequest);
      ASSERT_EQ(previewed["ok"], true) << previewed.dump() << lastError;
      auto preview = testing::renderWithGhostscript(dir.file("preview.pdf"), 1, kDpi);
      ASSERT_TRUE(preview);
      const Measurement onPreview = measure(expected, testing::findSquares(*preview));

      json printed = run("print", request(queue.name, artwork));
      ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
      const std::vector<int> jobs = rig.waitForCompletedJobs(queue.name, ++jobsSoFar);
      ASSERT_EQ(jobs.size(), jobsSoFar) << "the job did not complete";
      auto sheet = received(queue, jobs.back());
      ASSERT_TRUE(sheet) << "the printed sheet could not be read";

      std::vector<PointMm> want = expected;
      if (landscape) {
        for (PointMm& p : want) {
          p = onPortraitMedia(p, paper.width / kMm, paper.height / kMm, ppd->landscapeDegrees());
        }
      }
      const Measurement onSheet = measure(want, testing::findSquares(*sheet));
      std::printf("%s %s: print worst %.3f mm scale %.5f; preview worst %.3f mm scale %.5f\n",
                  queue.name, landscape ? "landscape" : "portrait", onSheet.worstMm, onSheet.scale,
                  onPreview.worstMm, onPreview.scale);
      EXPECT_LE(onSheet.worstMm, 0.1);
      EXPECT_NEAR(onSheet.scale, 1, 0.0005);
      EXPECT_LE(onPreview.worstMm, 0.1);
      EXPECT_NEAR(onPreview.scale, 1, 0.0005);
      if (queue.output == Output::gutenprint) {
        EXPECT_NE(rig.driverOptions(jobs.back()).find("StpiShrinkOutput=Crop"), std::string::npos)
            << rig.driverOptions(jobs.back());
      }
    }
    jobsSoFar = 0;
  }
}

// A PPD copy with `from` replaced by `to` on every line that holds it.
std::string editedPpd(const std::string& ppd, const std::string& from, const std::string& to) {
  return testing::replacedAll(testing::readFile(ppd), from, to);
}

json savedArchive(const std::string& snapshotPath) {
  const json snapshot = json::parse(testing::readFile(snapshotPath));
  auto archive = base64Decode(snapshot["archive"].get<std::string>());
  return archive ? json::parse(*archive) : json();
}

std::optional<std::string> savedOption(const std::string& snapshotPath, const std::string& name) {
  const json archive = savedArchive(snapshotPath);
  for (const json& option : archive["options"]) {
    if (option["name"] == name) return option["value"].get<std::string>();
  }
  return std::nullopt;
}

TEST_F(DriverQueues, SameSizePapersAreSavedMeasuredAndSentByTheirOwnEntry) {
  // Gutenprint's "4x6" and "KG" are both 288 × 432 pt; CUPS' media database keeps only one. The
  // summary names each as the dialog shows it (GTK writes the PPD's "4x6" as "4×6").
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  const std::string snapshot = dir.file("epson.json");
  const std::string artwork =
      dir.write("small.pdf", testing::makeRulerPdf({80, 120, 5, {{10, 10}, {70, 110}}}));
  int job = 0;
  for (auto [entry, name] : {std::pair{"w288h432J", "KG"}, {"w288h432", "4×6"}}) {
    SCOPED_TRACE(name);
    presetEarlier("epson", entry, Orientation::portrait);
    json saved = saveSettings("epson");
    ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
    EXPECT_EQ(saved["summary"]["paperName"], name);
    EXPECT_EQ(savedOption(snapshot, "PageSize"), entry);
    const json paper = json::parse(testing::readFile(snapshot))["paper"];
    EXPECT_NEAR(paper["width"].get<double>(), 288, 0.02);
    EXPECT_NEAR(paper["height"].get<double>(), 432, 0.02);

    json printed = run("print", request("epson", artwork));
    ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
    const std::vector<int> jobs = rig.waitForCompletedJobs("epson", ++job);
    ASSERT_EQ(jobs.size(), static_cast<size_t>(job));
    const std::string options = rig.driverOptions(jobs.back());
    EXPECT_NE(options.find(std::string("PageSize=") + entry + " "), std::string::npos) << options;
  }
}

TEST_F(DriverQueues, GutenprintPrintableAreaIsTheDriversAndInspectionSaysSo) {
  // The PPD declares the whole sheet printable; the P800 really keeps about 3 mm at the sides
  // of an A4 sheet unless it prints borderless.
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  const std::string snapshot = dir.file("epson.json");
  const std::string fullSheet =
      dir.write("a4.pdf", testing::makeRulerPdf({209.9, 297.0, 5, {{10, 10}, {199, 287}}}));
  for (bool borderless : {false, true}) {
    SCOPED_TRACE(borderless ? "borderless" : "with margins");
    PrintSettings settings("epson");
    ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
    ASSERT_TRUE(settings.setOption("StpFullBleed", borderless ? "True" : "False"));
    dir.write("epson.json", testing::savedSnapshot(settings, false).toFileBytes());
    json saved = saveSettings("epson");
    ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
    EXPECT_EQ(saved["summary"]["paperName"], borderless ? "A4 borderless" : "A4");
    const json paper = json::parse(testing::readFile(snapshot))["paper"];
    if (borderless) {
      EXPECT_EQ(paper["imageableX"].get<double>(), 0);
      EXPECT_EQ(paper["imageableWidth"].get<double>(), paper["width"].get<double>());
    } else {
      EXPECT_NEAR(paper["imageableX"].get<double>(), 9, 0.03);
      EXPECT_NEAR(paper["width"].get<double>() - paper["imageableX"].get<double>() -
                      paper["imageableWidth"].get<double>(),
                  9, 0.03);
    }
    json r = request("epson", fullSheet);
    r["offsetXmm"] = 0;
    r["offsetYmm"] = 0;
    json inspected = run("inspect", r);
    ASSERT_EQ(inspected["ok"], true) << inspected.dump() << lastError;
    EXPECT_EQ(inspected["document"]["requiresClipping"], !borderless);
  }

  // A custom size is the PPD's custom form, its margins the driver's as well.
  PrintSettings custom("epson");
  ASSERT_TRUE(custom.setOption(PrintSettings::kPageSize, "Custom.300.00x400.00"));
  const artwork::PaperGeometry customPaper = testing::savedSnapshot(custom, false).paper;
  EXPECT_NEAR(customPaper.width, 300, 0.02);
  EXPECT_NEAR(customPaper.height, 400, 0.02);
  EXPECT_NEAR(customPaper.imageableX, 9, 0.03);

  // The Pro9000 keeps more at the bottom of the sheet (15 pt) than at its top (9 pt); its
  // landscape sheets are turned Plus90, which puts the sheet's left edge on that bottom.
  rig.addDriverQueue("canon", "gutenprint.5.3://bjc-PIXMA-Pro9000mk2/expert");
  PrintSettings canon("canon");
  ASSERT_TRUE(canon.setOption(PrintSettings::kPageSize, "A4"));
  for (Orientation orientation : {Orientation::landscape, Orientation::reverseLandscape}) {
    canon.setOrientation(orientation);
    const artwork::PaperGeometry turned = testing::savedSnapshot(canon, false).paper;
    EXPECT_NEAR(turned.width, 842, 0.02);
    EXPECT_NEAR(turned.imageableX, 15, 0.03);
    EXPECT_NEAR(turned.imageableY, 10, 0.03);
  }
}

TEST_F(DriverQueues, APwgNameOnADriverQueueIsItsWholePointSheet) {
  // Settings that name the paper only by its PWG name (saved before the queue's entry was kept)
  // still measure: A4 in whole points is 20990 × 29704 hundredths, not a substitute.
  rig.addDriverQueue("postscript", "drv:///sample.drv/generic.ppd");
  PrintSettings settings("postscript");
  ASSERT_TRUE(settings.setOption(PrintSettings::kMedia, "iso_a4_210x297mm"));
  const artwork::PaperGeometry paper = testing::savedSnapshot(settings, false).paper;
  EXPECT_EQ(paper.width, 20990 * 72.0 / 2540);
  EXPECT_EQ(paper.height, 29704 * 72.0 / 2540);
}

TEST_F(DriverQueues, DriverFaultsAreRefusedWithASentenceBeforeAnyJob) {
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  const std::string original = dir.write("p800.ppd", testing::readFile(rig.queuePpd("epson")));
  const std::string artwork =
      dir.write("ruler.pdf", testing::makeRulerPdf(testing::standardRuler()));
  json saved = saveSettings("epson");
  ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
  const std::string snapshotBefore = testing::readFile(dir.file("epson.json"));
  auto refused = [&](const std::string& mode, const std::string& message) {
    json out = mode == "settings" ? saveSettings("epson") : run(mode, request("epson", artwork));
    EXPECT_EQ(out, (json{{"ok", false}, {"error", message}})) << mode << lastError;
    EXPECT_EQ(rig.jobCount("epson"), 0u);
  };

  // A driver that no longer offers the exact-size choice.
  rig.addQueueWithPpd(
      "epson", dir.write("no-crop.ppd", editedPpd(original, "*StpiShrinkOutput Crop/", "*%")));
  const std::string noCrop =
      "The printer's driver cannot print at exact size: its setting \"Shrink Page If Necessary "
      "to Fit Borders\" has no \"Crop\" choice. Install the printer with another driver.";
  refused("print", noCrop);
  refused("settings", noCrop);

  // A PPD that no longer has the saved paper.
  rig.addQueueWithPpd("epson", dir.write("no-a4.ppd", editedPpd(original, " A4/A4:", " A4x/A4x:")));
  refused("print",
          "The printer does not offer the paper size \"A4\". Choose another paper in Printer "
          "Settings and save them again.");

  // A model the installed libgutenprint does not know: nothing is saved, nothing prints.
  rig.addQueueWithPpd(
      "epson", dir.write("unknown.ppd", editedPpd(original, "\"escp2-p800\"", "\"escp2-p999\"")));
  const std::string unknown =
      "The installed Gutenprint library does not know the printer model \"escp2-p999\" that "
      "this printer's driver names. Reinstall the printer with a driver of the installed "
      "Gutenprint version.";
  refused("print", unknown);
  refused("settings", unknown);
  EXPECT_EQ(testing::readFile(dir.file("epson.json")), snapshotBefore);
}

// How many times `text` holds `what`.
size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST_F(DriverQueues, ApplicationColourReachesGutenprintAsA16BitRasterAtExactSize) {
  const testing::Ruler ruler = testing::standardRuler();
  const std::string artwork = dir.write("ruler.pdf", testing::makeRulerPdf(ruler));
  const json color = applicationColor();
  for (const DriverQueue& queue : kQueues) {
    if (queue.output != Output::gutenprint) continue;
    rig.addDriverQueue(queue.name, queue.model);
    auto ppd = QueuePpd::fromFile(rig.queuePpd(queue.name));
    ASSERT_TRUE(ppd) << queue.name;
    // Portrait and landscape at the queue's default quality, and on the P800 portrait again at
    // its Photo quality, 1440 × 720 dpi.
    struct Pass {
      Orientation orientation;
      std::vector<PrintOption> options;
    };
    std::vector<Pass> passes{{Orientation::portrait, {}}, {Orientation::landscape, {}}};
    if (std::string(queue.name) == "epson-p800") {
      passes.push_back({Orientation::portrait, {{"StpQuality", "Photo"}}});
    }
    size_t jobsSoFar = 0;
    for (const Pass& pass : passes) {
      const bool landscape = pass.orientation == Orientation::landscape;
      SCOPED_TRACE(std::string(queue.name) + (landscape ? " landscape" : " portrait"));
      presetNow(queue.name, pass.orientation, pass.options);
      const json snapshot =
          json::parse(testing::readFile(dir.file(std::string(queue.name) + ".json")));
      const artwork::PaperGeometry paper =
          artwork::PaperGeometry::fromJson(snapshot["paper"], "paper");

      json r = request(queue.name, artwork);
      r["colorManagement"] = color;
      json printed = run("print", r);
      ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
      const std::vector<int> jobs = rig.waitForCompletedJobs(queue.name, ++jobsSoFar);
      ASSERT_EQ(jobs.size(), jobsSoFar) << "the job did not complete";

      // The driver is the only filter: what it received is the document as spooled.
      const std::string log = rig.jobLog(jobs.back());
      EXPECT_EQ(occurrences(log, "Started filter "), 1u) << log;
      EXPECT_EQ(occurrences(log, "Started filter /usr/lib/cups/filter/rastertogutenprint"), 1u);
      EXPECT_NE(log.find("Set special string ChannelBitDepth to 16"), std::string::npos);
      EXPECT_NE(log.find("cupsBitsPerColor = 16"), std::string::npos);
      const std::string spooled = rig.spooledDocument(jobs.back());
      const auto facts = testing::cupsRasterFacts(spooled);
      ASSERT_TRUE(facts) << "the spooled document is not a CUPS raster";
      ASSERT_EQ(facts->pages.size(), 1u);
      EXPECT_EQ(facts->pages[0].bitsPerColor, 16u);
      EXPECT_EQ(facts->pages[0].pageSizeName, "A4");

      auto sheet = testing::readCupsRaster(spooled);
      ASSERT_TRUE(sheet);
      std::vector<PointMm> want = expectedSquares(paper, ruler);
      if (landscape) {
        for (PointMm& p : want) {
          p = onPortraitMedia(p, paper.width / kMm, paper.height / kMm, ppd->landscapeDegrees());
        }
      }
      const Measurement onSheet = measure(want, testing::findSquares(sheet->front()));
      std::printf(
          "%s %s, application colour, %u x %u dpi 16-bit raster: worst %.3f mm scale %.5f\n",
          queue.name, landscape ? "landscape" : "portrait", facts->pages[0].dpiX,
          facts->pages[0].dpiY, onSheet.worstMm, onSheet.scale);
      EXPECT_LE(onSheet.worstMm, 0.1);
      EXPECT_NEAR(onSheet.scale, 1, 0.0005);
      EXPECT_NE(rig.driverOptions(jobs.back()).find("StpiShrinkOutput=Crop"), std::string::npos);
    }
  }
}

// What the Epson P800's driver receives for a layered page shows what its layers print, on the
// PDF route (the spooled sheet, rendered by Ghostscript and poppler as it is and without
// optional-content properties, and the raster the filters make of it) and on the 16-bit raster
// route of application colour.
TEST_F(DriverQueues, ALayeredPageReachesGutenprintWithWhatItsLayersPrintOnBothRoutes) {
  const DriverQueue& queue = kQueues[0];
  rig.addDriverQueue(queue.name, queue.model);
  presetNow(queue.name, Orientation::portrait);
  const artwork::PaperGeometry paper = artwork::PaperGeometry::fromJson(
      json::parse(testing::readFile(dir.file(std::string(queue.name) + ".json")))["paper"],
      "paper");
  const double w = 180 * kMm, h = 260 * kMm;
  const testing::LayeredPdf layered = testing::makeLayeredPdf(w, h);
  const std::string artwork = dir.write("layered.pdf", layered.pdf);
  const artwork::Rect rect = artwork::placement({w, h}, 100, paper, kOffsetXmm, kOffsetYmm).rect;
  const testing::PdfBox placed{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
  const std::vector<std::string> none;
  size_t jobsSoFar = 0;
  for (bool managed : {false, true}) {
    SCOPED_TRACE(managed ? "16-bit raster route" : "PDF route");
    json r = request(queue.name, artwork);
    if (managed) r["colorManagement"] = applicationColor();
    const int job = printedJob(queue.name, r, jobsSoFar);
    ASSERT_NE(job, 0);
    const std::string spooled = rig.spooledDocument(job);
    if (managed) {
      auto sheet = testing::readCupsRaster(spooled);
      ASSERT_TRUE(sheet) << "the spooled document is not a CUPS raster";
      EXPECT_EQ(testing::wrongSquares(layered, sheet->front(), placed, paper.height), none);
      continue;
    }
    const std::string stripped = dir.write(
        "stripped.pdf", testing::withoutOptionalContentProperties(testing::readFile(spooled)));
    for (const std::string& file : {spooled, stripped}) {
      SCOPED_TRACE(file);
      auto byGhostscript = testing::renderWithGhostscript(file, 1, 100);
      ASSERT_TRUE(byGhostscript);
      EXPECT_EQ(testing::wrongSquares(layered, *byGhostscript, placed, paper.height), none);
      auto byPoppler = testing::renderWithPoppler(file, 1, 100);
      ASSERT_TRUE(byPoppler);
      EXPECT_EQ(testing::wrongSquares(layered, *byPoppler, 100 / 72.0, placed, paper.height), none);
    }
    auto driverRaster = received(queue, job);
    ASSERT_TRUE(driverRaster) << "the driver's raster could not be made again";
    EXPECT_EQ(testing::wrongSquares(layered, *driverRaster, placed, paper.height), none);
  }
}

TEST_F(DriverQueues, A16BitRampReachesGutenprintWithItsLevelsAndItsCopies) {
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  presetNow("epson", Orientation::portrait);
  // Every pixel a different grey, 0 to 65535 in steps of one, at 300 dpi.
  testing::PngOptions ramp;
  ramp.width = 512;
  ramp.height = 128;
  ramp.bitDepth = 16;
  ramp.pixelsPerMeterX = ramp.pixelsPerMeterY = testing::pixelsPerMeter(300);
  ramp.sample16 = [](uint32_t x, uint32_t y, int) { return y * 512 + x; };
  const std::string artwork = dir.write("ramp.png", testing::makePng(ramp));

  json r = request("epson", artwork);
  r["colorManagement"] = applicationColor();
  r["copies"] = 2;
  json printed = run("print", r);
  ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
  std::vector<int> jobs = rig.waitForCompletedJobs("epson", 1);
  ASSERT_EQ(jobs.size(), 1u) << "the job did not complete";
  const std::string log = rig.jobLog(jobs.back());
  EXPECT_NE(log.find("Set special string ChannelBitDepth to 16"), std::string::npos);
  // The driver prints each sheet it receives once: the copies are sheets of the raster.
  EXPECT_NE(log.find("PAGE: 1 1"), std::string::npos) << log;
  EXPECT_NE(log.find("PAGE: 2 1"), std::string::npos);
  EXPECT_EQ(log.find("PAGE: 3 "), std::string::npos);
  EXPECT_NE(rig.driverOptions(jobs.back()).find("StpiShrinkOutput=Crop"), std::string::npos);
  const auto sixteen = testing::cupsRasterFacts(rig.spooledDocument(jobs.back()));
  ASSERT_TRUE(sixteen);
  ASSERT_EQ(sixteen->pages.size(), 2u);
  EXPECT_EQ(sixteen->pages[1].bitsPerColor, 16u);
  EXPECT_GE(sixteen->mostLevels, 4096u);

  // The driver receives the converted samples themselves: every pixel of the raster outside
  // the white sheet is one the conversion made, and each one it made is there (720 × 360 dpi
  // shows every pixel of a 300 dpi ramp).
  ColorManagement settings;
  settings.mode = "application";
  settings.profileId = r["colorManagement"]["profileId"];
  settings.profilePath = r["colorManagement"]["profilePath"];
  settings.renderingIntent = r["colorManagement"]["renderingIntent"];
  settings.driverColorManagementDisabled = true;
  const artwork::Artwork converted =
      artwork::Artwork::load(artwork, std::nullopt).applyingColorManagement(settings, 100, true);
  const auto* samples =
      reinterpret_cast<const uint16_t*>(converted.pages[0].png()->pixels->bytes.data());
  std::set<std::array<uint16_t, 3>> made;
  for (size_t i = 0; i < size_t(ramp.width) * ramp.height; ++i) {
    made.insert({samples[3 * i], samples[3 * i + 1], samples[3 * i + 2]});
  }
  auto received = testing::distinctRgb16Pixels(rig.spooledDocument(jobs.back()));
  ASSERT_TRUE(received);
  constexpr std::array<uint16_t, 3> kWhite{65535, 65535, 65535};
  made.erase(kWhite);
  received->erase(kWhite);
  EXPECT_TRUE(*received == made) << received->size() << " pixels received, " << made.size()
                                 << " made by the conversion";

  // Printer-managed, the same ramp goes as PDF and reaches the driver in 8 bits.
  r.erase("colorManagement");
  r.erase("copies");
  printed = run("print", r);
  ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
  jobs = rig.waitForCompletedJobs("epson", 2);
  ASSERT_EQ(jobs.size(), 2u) << "the job did not complete";
  const auto remade = remadeRaster("epson", jobs.back());
  ASSERT_TRUE(remade);
  const auto eight = testing::cupsRasterFacts(*remade);
  ASSERT_TRUE(eight);
  EXPECT_EQ(eight->pages[0].bitsPerColor, 8u);
  EXPECT_LE(eight->mostLevels, 256u);
  std::printf("16-bit ramp: %zu levels in one colour through the raster route, %zu as PDF\n",
              sixteen->mostLevels, eight->mostLevels);
}

TEST_F(DriverQueues, TheRasterRouteRefusesWhatItCannotCarryBeforeAnyJob) {
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  const std::string original = dir.write("p800.ppd", testing::readFile(rig.queuePpd("epson")));
  json r =
      request("epson", dir.write("ruler.pdf", testing::makeRulerPdf(testing::standardRuler())));
  r["colorManagement"] = applicationColor();
  auto refused = [&](const std::string& message) {
    json out = run("print", r);
    EXPECT_EQ(out, (json{{"ok", false}, {"error", message}})) << lastError;
    EXPECT_EQ(rig.jobCount("epson"), 0u);
  };

  // A CMYK model saved with the preset: RGB printer values would be converted once more.
  presetNow("epson", Orientation::portrait, {{"ColorModel", "CMYK"}});
  refused(
      "This preset prints with the driver's color model \"CMYK\", which cannot carry colors "
      "converted to an RGB printer profile. Choose an RGB color model in Printer settings before "
      "using an RGB printer profile.");

  // A grey model the driver defaults to, which the saved settings do not name.
  rig.addQueueWithPpd("epson", dir.write("gray.ppd", editedPpd(original, "*DefaultColorModel: RGB",
                                                               "*DefaultColorModel: Gray")));
  presetNow("epson", Orientation::portrait);
  refused(kBlackAndWhiteWithRgbProfile);

  // Options whose code libcups cannot turn into a page header (no resolution).
  rig.addQueueWithPpd("epson", dir.write("broken.ppd", editedPpd(original, "HWResolution[720 360]",
                                                                 "HWResolution[0 0]")));
  presetNow("epson", Orientation::portrait);
  refused(kRasterHeaderUnreadable);
}

// Gutenprint's own borderless printing (StpFullBleed) on a photo printer's A4.
class Borderless : public DriverQueues {};

TEST_F(Borderless, AnA4ArtworkFillsGutenprintsBorderlessA4AtExactSizeOnBothRoutes) {
  // The PPD's A4 is 595 × 842 pt, the sheet 595.28 × 841.89: an artwork of exactly A4 fits it,
  // is printed at 100 % from the paper's corner, and loses only what lies beyond the driver's
  // page (a fraction of a point), as a borderless sheet's edge does.
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  auto ppd = QueuePpd::fromFile(rig.queuePpd("epson"));
  ASSERT_TRUE(ppd);
  PrintSettings start("epson");
  ASSERT_TRUE(start.setOption(PrintSettings::kPageSize, "A4"));
  ASSERT_TRUE(start.setOption("StpFullBleed", "True"));
  dir.write("epson.json", testing::savedSnapshot(start, false).toFileBytes());
  json saved = saveSettings("epson");
  ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
  EXPECT_EQ(saved["summary"]["paperName"], "A4 borderless");

  // Squares 2 mm from every edge of the sheet.
  const testing::Ruler a4{210, 297, 4, {{4, 4}, {120, 150}, {206, 60}, {206, 293}, {4, 293}}};
  const testing::Ruler turned{297, 210, 4, {{4, 4}, {150, 120}, {60, 206}, {293, 206}, {293, 4}}};
  size_t jobsSoFar = 0;
  for (bool application : {false, true}) {
    for (Orientation orientation : {Orientation::portrait, Orientation::landscape}) {
      const bool landscape = orientation == Orientation::landscape;
      SCOPED_TRACE(std::string(application ? "16-bit raster" : "PDF") +
                   (landscape ? " landscape" : " portrait"));
      presetNow("epson", orientation, {{"StpFullBleed", "True"}});
      const artwork::PaperGeometry paper = artwork::PaperGeometry::fromJson(
          json::parse(testing::readFile(dir.file("epson.json")))["paper"], "paper");
      const testing::Ruler& ruler = landscape ? turned : a4;
      json r = request("epson", dir.write("a4.pdf", testing::makeRulerPdf(ruler)));
      r["offsetXmm"] = 0;
      r["offsetYmm"] = 0;
      r.erase("acceptMarginClipping");
      if (application) r["colorManagement"] = applicationColor();
      json inspected = run("inspect", r);
      ASSERT_EQ(inspected["ok"], true) << inspected.dump() << lastError;
      EXPECT_EQ(inspected["document"]["fits"], true);
      EXPECT_EQ(inspected["document"]["requiresClipping"], false);

      json printed = run("print", r);
      ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
      const std::vector<int> jobs = rig.waitForCompletedJobs("epson", ++jobsSoFar);
      ASSERT_EQ(jobs.size(), jobsSoFar) << "the job did not complete";
      const std::string options = rig.driverOptions(jobs.back());
      // CUPS hands a boolean option that is true to the driver by its name alone.
      EXPECT_NE(options.find(" StpFullBleed "), std::string::npos) << options;
      EXPECT_NE(options.find("StpiShrinkOutput=Crop"), std::string::npos) << options;
      std::optional<std::vector<testing::DarknessImage>> pages;
      if (application) {
        pages = testing::readCupsRaster(rig.spooledDocument(jobs.back()));
      } else if (auto raster = remadeRaster("epson", jobs.back())) {
        pages = testing::readCupsRaster(*raster);
      }
      ASSERT_TRUE(pages && !pages->empty()) << "the sheet the driver received could not be read";

      std::vector<PointMm> want = expectedSquares(paper, ruler, 0, 0);
      if (landscape) {
        for (PointMm& p : want) {
          p = onPortraitMedia(p, paper.width / kMm, paper.height / kMm, ppd->landscapeDegrees());
        }
      }
      const Measurement onSheet = measure(want, testing::findSquares(pages->front()));
      std::printf("P800 borderless A4 %s %s: worst %.3f mm scale %.5f\n",
                  application ? "16-bit raster" : "PDF", landscape ? "landscape" : "portrait",
                  onSheet.worstMm, onSheet.scale);
      EXPECT_LE(onSheet.worstMm, 0.06);
      EXPECT_NEAR(onSheet.scale, 1, 0.0005);
    }
  }
}

TEST_F(Borderless, APpdBorderlessSizeWhoseAreaPassesTheSheetPrintsTheWholeSheetUnmoved) {
  // cups-filters' PDF printer offers "A4 (Borderless)" (A4.Fullbleed, 595 × 842 pt); this copy
  // declares its printable area 6 pt beyond every edge, as some vendor PPDs do. What lies beyond
  // the sheet is no printable area: the saved area is the sheet, and an A4 artwork is printed
  // whole, unmoved and unscaled.
  const DriverQueue queue{"pdf", "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", Output::pdf};
  rig.addDriverQueue(queue.name, queue.model);
  rig.addQueueWithPpd(
      queue.name,
      dir.write("beyond.ppd",
                editedPpd(rig.queuePpd(queue.name), "A4.Fullbleed/A4 (Borderless): \"0 0 595 842\"",
                          "A4.Fullbleed/A4 (Borderless): \"-6 -6 601 848\"")));
  presetEarlier(queue.name, "A4.Fullbleed", Orientation::portrait);
  json saved = saveSettings(queue.name);
  ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
  EXPECT_EQ(saved["summary"]["paperName"], "A4 (Borderless)");
  const artwork::PaperGeometry paper = artwork::PaperGeometry::fromJson(
      json::parse(testing::readFile(dir.file("pdf.json")))["paper"], "paper");
  EXPECT_EQ(paper.imageable().width, paper.width);
  EXPECT_EQ(paper.imageable().height, paper.height);

  const testing::Ruler a4{210, 297, 4, {{4, 4}, {120, 150}, {206, 60}, {206, 293}, {4, 293}}};
  json r = request(queue.name, dir.write("a4.pdf", testing::makeRulerPdf(a4)));
  r["offsetXmm"] = 0;
  r["offsetYmm"] = 0;
  r.erase("acceptMarginClipping");
  json printed = run("print", r);
  ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
  const std::vector<int> jobs = rig.waitForCompletedJobs(queue.name, 1);
  ASSERT_EQ(jobs.size(), 1u) << "the job did not complete";
  auto sheet = received(queue, jobs.back());
  ASSERT_TRUE(sheet);
  const Measurement onSheet =
      measure(expectedSquares(paper, a4, 0, 0), testing::findSquares(*sheet));
  std::printf("PDF printer, A4 (Borderless) with its area beyond the sheet: worst %.3f mm\n",
              onSheet.worstMm);
  EXPECT_LE(onSheet.worstMm, 0.06);
  EXPECT_NEAR(onSheet.scale, 1, 0.0005);
}

// How many prints a job makes: the sheets the driver receives, each printed as often as the
// backend is told (argv[4]; Gutenprint's dye-sublimation backend repeats every page that often,
// the file, usb and socket backends send what they get once, so for them it counts as 1).
class Copies : public DriverQueues {
 protected:
  static testing::FixturePage pageOf(const testing::PdfBox& box, std::string content) {
    testing::FixturePage page;
    page.mediaBox = box;
    page.content = std::move(content);
    return page;
  }

  int sheetsTheDriverPrinted(int jobId) const { return rig.driverSheets(jobId); }
  int backendCopies(int jobId) const { return rig.driverCopies(jobId); }
};

TEST_F(Copies, EachCopyIsMadeOnceOnDyeSublimationAndInkjetQueuesOnBothRoutes) {
  struct Queue {
    const char* name;
    const char* model;
    const char* entry;
    bool backendRepeats;  // a dye-sublimation backend repeats each sheet argv[4] times
  };
  // Two pages, so that collation can go wrong.
  const std::string artwork = dir.write(
      "two.pdf",
      testing::makeFixturePdf(
          {pageOf({0, 0, 226.77, 340.16}, testing::fillRect(20, 20, 40, 40, 0, 0, 0)),
           pageOf({0, 0, 226.77, 340.16}, testing::fillRect(150, 250, 40, 40, 0, 0, 0))}));
  for (const Queue& queue :
       {Queue{"ds40", "gutenprint.5.3://dnp-ds40/expert", "w288h432", true},
        Queue{"selphy", "gutenprint.5.3://canon-cp1300/expert", "Postcard", true},
        Queue{"p800", "gutenprint.5.3://escp2-p800/expert", "A4", false}}) {
    rig.addDriverQueue(queue.name, queue.model, queue.entry);
    size_t jobsSoFar = 0;
    for (bool collated : {false, true}) {
      PrintSettings settings(queue.name);
      ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, queue.entry));
      ASSERT_TRUE(settings.setOption("Collate", collated ? "True" : "False"));
      dir.write(std::string(queue.name) + ".json",
                testing::savedSnapshot(settings, false).toFileBytes());
      for (bool application : {false, true}) {
        for (int copies : {1, 3}) {
          if (copies == 1 && collated) continue;
          SCOPED_TRACE(std::string(queue.name) + (application ? " raster " : " PDF ") +
                       std::to_string(copies) + (collated ? " collated" : ""));
          json r = request(queue.name, artwork);
          r["copies"] = copies;
          if (application) r["colorManagement"] = applicationColor();
          const int job = printedJob(queue.name, r, jobsSoFar);
          ASSERT_NE(job, 0);
          const int sheets = sheetsTheDriverPrinted(job);
          const int repeats = backendCopies(job);
          // The file backend here sends what it gets once; the printer's own would repeat it, so
          // the prints are counted as the printer would make them.
          const int prints = sheets * (queue.backendRepeats ? repeats : 1);
          std::printf(
              "%s, %s, %d copies%s: the driver printed %d sheets, the backend got "
              "argv[4]=%d: %d prints\n",
              queue.name, application ? "16-bit raster" : "PDF", copies,
              collated ? " collated" : "", sheets, repeats, prints);
          EXPECT_EQ(prints, 2 * copies);
          if (!application || queue.backendRepeats || copies == 1) continue;
          // Made here, the sets are in the order the user saved.
          auto pages = testing::readCupsRaster(rig.spooledDocument(job));
          ASSERT_TRUE(pages);
          ASSERT_EQ(pages->size(), size_t(2 * copies));
          auto same = [&](size_t a, size_t b) {
            return (*pages)[a].darkness == (*pages)[b].darkness;
          };
          EXPECT_FALSE(same(0, collated ? 1 : 3));
          EXPECT_TRUE(same(0, collated ? 2 : 1));
          EXPECT_TRUE(same(1, collated ? 3 : 2));
        }
      }
    }
  }
}

TEST_F(Copies, TheSavedSidesReachTheDriverOnBothRoutesAndEachCollatedSetStartsOnAFrontSide) {
  // A Canon PIXMA that prints both sides through Gutenprint; three pages, two collated copies.
  rig.addDriverQueue("ip4500", "gutenprint.5.3://bjc-PIXMA-iP4500/expert", "A4");
  PrintSettings settings("ip4500");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
  ASSERT_TRUE(settings.setOption("Duplex", "DuplexNoTumble"));
  ASSERT_TRUE(settings.setOption("Collate", "True"));
  dir.write("ip4500.json", testing::savedSnapshot(settings, false).toFileBytes());
  std::vector<testing::FixturePage> three;
  for (int page = 0; page < 3; ++page) {
    three.push_back(
        pageOf({0, 0, 420, 595}, testing::fillRect(40 + 100 * page, 40, 60, 60, 0, 0, 0)));
  }
  const std::string artwork = dir.write("three.pdf", testing::makeFixturePdf(three));
  size_t jobsSoFar = 0;
  for (bool application : {false, true}) {
    SCOPED_TRACE(application ? "raster" : "PDF");
    json r = request("ip4500", artwork);
    r["copies"] = 2;
    if (application) r["colorManagement"] = applicationColor();
    const int job = printedJob("ip4500", r, jobsSoFar);
    ASSERT_NE(job, 0);
    const std::string options = rig.driverOptions(job);
    EXPECT_NE(options.find("Duplex=DuplexNoTumble"), std::string::npos) << options;
    EXPECT_NE(options.find("sides=two-sided-long-edge"), std::string::npos) << options;
    EXPECT_EQ(options.find("one-sided"), std::string::npos) << options;
    // Three pages and a blank back side, then the second set from a front side.
    const int sheets = sheetsTheDriverPrinted(job);
    std::printf(
        "ip4500, %s, 2 collated two-sided copies of 3 pages: the driver printed %d "
        "sheets\n",
        application ? "16-bit raster" : "PDF", sheets);
    EXPECT_GE(sheets, 7);
    EXPECT_LE(sheets, 8);
    if (!application) continue;
    auto pages = testing::readCupsRaster(rig.spooledDocument(job));
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 7u);
    EXPECT_TRUE((*pages)[4].darkness == (*pages)[0].darkness);
    EXPECT_TRUE(std::all_of((*pages)[3].darkness.begin(), (*pages)[3].darkness.end(),
                            [](unsigned char v) { return v == 0; }));
    const auto facts = testing::cupsRasterFacts(rig.spooledDocument(job));
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->pages[0].duplex);
    EXPECT_FALSE(facts->pages[0].tumble);
  }
}

TEST_F(Copies, NinetyNineCopiesOfALargeSixteenBitSheetAreRefusedBeforeAnyJob) {
  // An inkjet's copies are sheets of the 16-bit raster, and cupsd keeps the whole raster in its
  // spool folder: 99 copies of a photograph nearly as large as A4 would fill gigabytes of disk.
  rig.addDriverQueue("epson", "gutenprint.5.3://escp2-p800/expert");
  presetNow("epson", Orientation::portrait);
  testing::PngOptions photo;
  photo.width = 2126;  // 180 × 260 mm at 300 dpi
  photo.height = 3071;
  photo.bitDepth = 16;
  photo.pixelsPerMeterX = photo.pixelsPerMeterY = testing::pixelsPerMeter(300);
  photo.sample16 = [](uint32_t x, uint32_t y, int c) {
    return static_cast<unsigned>((x * 37 + y * 11 + c * 5000) % 65536);
  };
  json r = request("epson", dir.write("photo.png", testing::makePng(photo)));
  r["colorManagement"] = applicationColor();
  r["copies"] = 99;
  json refused = run("print", r);
  EXPECT_EQ(refused["ok"], false);
  const std::string error = refused.value("error", "");
  std::printf("99 copies on the raster route: %s\n", error.c_str());
  EXPECT_TRUE(error.starts_with("The print job would be ")) << error << lastError;
  EXPECT_NE(error.find("(it holds all 99 copies, made by this computer), more than the 4.0 GB"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("Print fewer copies at a time."), std::string::npos) << error;
  EXPECT_TRUE(
      testing::jobStates(CUPS_HTTP_DEFAULT, "ipp://localhost/printers/epson", "/printers/epson")
          .empty());
}

}  // namespace
}  // namespace vardelle::printing
