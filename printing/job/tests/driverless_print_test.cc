// `print` to driverless printers that behave like firmware: they place every page by the
// print-scaling they receive or default to. The ruler is measured on what the printer made.

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "artwork/paper_geometry.h"
#include "artwork/placement.h"
#include "base/print_failure.h"
#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "printing/job/submission.h"
#include "testing/cups_rig.h"
#include "testing/layered_pdf.h"
#include "testing/pdf_maker.h"
#include "testing/placed_ruler.h"
#include "testing/print_snapshot.h"
#include "testing/raster_probe.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/xvfb.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;

constexpr const char* kA4 = "iso_a4_210x297mm";
constexpr int kDpi = 300;  // the firmware printer's resolution

std::string ruler(double width, double height) { return testing::placedRulerPdf(width, height); }

class DriverlessPrint : public ::testing::Test {
 protected:
  void save(const std::string& queue, Orientation orientation) {
    snapshot = testing::savedSnapshot(testing::paperSettings(queue, kA4, orientation));
    dir.write("preset.json", snapshot.toFileBytes());
  }
  json request(const std::string& queue, const std::string& artwork) const {
    return {{"printerName", queue},
            {"printerId", *snapshot.printerId},
            {"snapshotPath", dir.file("preset.json")},
            {"filePath", artwork},
            {"scalePercent", 100}};
  }
  json print(const json& r) {
    auto out =
        testing::runVardelle("print", dir.write("request.json", r.dump()), rig.environment());
    lastError = out.err;
    try {
      return json::parse(out.out);
    } catch (const json::exception&) {
      ADD_FAILURE() << "not one JSON line: " << out.out << "\n" << out.err;
      return json::object();
    }
  }

  void printRulers(const testing::CupsRig::FirmwarePrinter& printer, const char* label);

  // The states of the jobs the queue `queue` of the rig's cupsd has held.
  static std::vector<int> cupsdJobs(const std::string& queue) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue.c_str());
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-state");
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    std::vector<int> ids;
    for (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM); a;
         a = ippFindNextAttribute(response, "job-state", IPP_TAG_ENUM)) {
      ids.push_back(ippGetInteger(a, 0));
    }
    ippDelete(response);
    return ids;
  }

  testing::CupsRig rig;
  testing::TempDir dir;
  NativeSnapshot snapshot;
  std::string lastError;
};

TEST_F(DriverlessPrint, TheQueueAloneLetsTheFirmwareShrinkThePage) {
  // What this machine's CUPS does with a driverless queue: the job's print-scaling stays
  // behind, and the printer fits the whole sheet into its margins with its own default.
  auto printer = rig.addFirmwarePrinter("firmware");
  const std::string sheet = dir.write("sheet.pdf", ruler(595.2756, 841.8898));
  auto lp = testing::runProcess({"/usr/bin/lp", "-d", printer.queue, "-o",
                                 std::string("media=") + kA4, "-o", "print-scaling=none", sheet},
                                rig.environment());
  ASSERT_EQ(lp.exitStatus, 0) << lp.err;
  auto jobs = testing::CupsRig::keptJobsIn(printer.jobs);
  for (int i = 0; i < 600 && jobs.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    jobs = testing::CupsRig::keptJobsIn(printer.jobs);
  }
  ASSERT_EQ(jobs.size(), 1u);
  if (!cupsForwardsPrintScaling(readQueueFacts(printer.queue).cupsVersion)) {
    EXPECT_EQ(jobs[0].attributes.count("IPP_PRINT_SCALING"), 0u);
  }
  const std::string render = testing::readFile(jobs[0].file + ".render");
  std::printf("through the queue: %s", render.c_str());
  EXPECT_NE(render.find("page 1 fit scale 0.96"), std::string::npos) << render;
}

// Prints the ruler with an offset, portrait and landscape, on `printer` and measures every
// square in what the printer made against where placement puts it.
void DriverlessPrint::printRulers(const testing::CupsRig::FirmwarePrinter& printer,
                                  const char* label) {
  int printed = 0;
  for (Orientation orientation : {Orientation::portrait, Orientation::landscape}) {
    const bool landscape = orientation == Orientation::landscape;
    SCOPED_TRACE(landscape ? "landscape" : "portrait");
    save(printer.queue, orientation);
    const double w = (landscape ? 260 : 180) * 72 / 25.4, h = (landscape ? 180 : 260) * 72 / 25.4;
    json r = request(printer.queue, dir.write("ruler.pdf", ruler(w, h)));
    r["offsetXmm"] = 4.5;
    r["offsetYmm"] = -3;
    json result = print(r);
    ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
    ASSERT_EQ(result["submitted"], true);
    ++printed;

    std::vector<testing::CupsRig::KeptJob> jobs;
    for (int i = 0; i < 600 && jobs.size() < size_t(printed); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      jobs = testing::CupsRig::keptJobsIn(printer.jobs);
    }
    ASSERT_EQ(jobs.size(), size_t(printed));
    const auto& job = jobs.back();
    EXPECT_NE(job.attributes.at("IPP_MEDIA_COL").find("media-top-margin=600"), std::string::npos);
    const std::string render = testing::readFile(job.file + ".render");
    if (render.find(" raster ") == std::string::npos) {  // a PDF the printer placed
      EXPECT_EQ(job.attributes.at("IPP_PRINT_SCALING"), "none");
      EXPECT_EQ(render, "page 1 none scale 1\n");
    }

    auto image = testing::decodePng(testing::readFile(job.file + "-page1.png"));
    ASSERT_TRUE(image) << render;
    const artwork::PagePlacement placed = artwork::placement({w, h}, 100, snapshot.paper, 4.5, -3);
    const testing::RulerLanding landing =
        testing::measurePlacedRuler(*image, kDpi, placed, w, h, landscape);
    ASSERT_TRUE(landing.missing.empty()) << landing.missing;
    std::printf("%s %s: worst square error %.4f mm, scale %.6f\n", label,
                landscape ? "landscape" : "portrait", landing.worstErrorMm, landing.scale);
    EXPECT_LE(landing.worstErrorMm, 0.1);
    EXPECT_NEAR(landing.scale, 1, 0.0005);
  }
}

TEST_F(DriverlessPrint, TheRulerLandsWherePlacementPutsItPortraitAndLandscape) {
  auto printer = rig.addFirmwarePrinter("firmware");
  printRulers(printer, "firmware printer (PDF, print-scaling auto by default)");
  // The jobs went to the printer itself: the local queue never held them.
  EXPECT_TRUE(cupsdJobs(printer.queue).empty());
}

TEST_F(DriverlessPrint, ARasterOnlyPrinterGetsExactSheetsThroughItsQueue) {
  // cupsd rasterises for it with filters that honour print-scaling=none, so the queue is kept.
  auto printer = rig.addFirmwarePrinter(
      "raster", std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/raster-firmware.attrs");
  printRulers(printer, "raster-only printer");
  EXPECT_EQ(cupsdJobs(printer.queue).size(), 2u);
}

// A layered page prints what its layers print on both routes: the sheet sent to the printer
// itself (a PDF its firmware reads, rendered here also by Ghostscript and poppler as it is and
// without optional-content properties, as a firmware that ignores layers reads it), and the
// raster the queue's filters make. Its ruler, drawn in a layer that prints, keeps its size.
TEST_F(DriverlessPrint, ALayeredPagePrintsWhatItsLayersPrintAndItsRulerAtExactSize) {
  const double w = 180 * 72 / 25.4, h = 260 * 72 / 25.4;
  const testing::LayeredPdf layered =
      testing::makeLayeredPdf(w, h, testing::placedRulerContent(w, h));
  for (const char* attributes : {"firmware.attrs", "raster-firmware.attrs"}) {
    SCOPED_TRACE(attributes);
    auto printer =
        rig.addFirmwarePrinter(attributes[0] == 'f' ? "firmware" : "raster",
                               std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/" + attributes);
    save(printer.queue, Orientation::portrait);
    json r = request(printer.queue, dir.write("layered.pdf", layered.pdf));
    r["offsetXmm"] = 4.5;
    r["offsetYmm"] = -3;
    json result = print(r);
    ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
    std::vector<testing::CupsRig::KeptJob> jobs;
    for (int i = 0; i < 600 && jobs.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      jobs = testing::CupsRig::keptJobsIn(printer.jobs);
    }
    ASSERT_EQ(jobs.size(), 1u);
    const artwork::PagePlacement placement =
        artwork::placement({w, h}, 100, snapshot.paper, 4.5, -3);
    const testing::PdfBox placed{placement.rect.x, placement.rect.y,
                                 placement.rect.x + placement.rect.width,
                                 placement.rect.y + placement.rect.height};

    auto image = testing::decodePng(testing::readFile(jobs[0].file + "-page1.png"));
    ASSERT_TRUE(image);
    EXPECT_EQ(
        testing::wrongSquares(layered, *image, kDpi / 72.0, placed, image->height * 72.0 / kDpi),
        std::vector<std::string>{});
    const testing::RulerLanding landing =
        testing::measurePlacedRuler(*image, kDpi, placement, w, h, false);
    ASSERT_TRUE(landing.missing.empty()) << landing.missing;
    std::printf("%s: layered ruler worst %.4f mm, scale %.6f\n", attributes, landing.worstErrorMm,
                landing.scale);
    EXPECT_LE(landing.worstErrorMm, 0.1);
    EXPECT_NEAR(landing.scale, 1, 0.0005);

    const std::string received = testing::readFile(jobs[0].file);
    if (received.rfind("%PDF-", 0) != 0) continue;  // the queue's raster
    const std::string asSent = dir.write("received.pdf", received);
    const std::string stripped =
        dir.write("stripped.pdf", testing::withoutOptionalContentProperties(received));
    for (const std::string& file : {asSent, stripped}) {
      SCOPED_TRACE(file);
      auto byGhostscript = testing::renderWithGhostscript(file, 1, 100);
      ASSERT_TRUE(byGhostscript);
      EXPECT_EQ(testing::wrongSquares(layered, *byGhostscript, placed, snapshot.paper.height),
                std::vector<std::string>{});
      auto byPoppler = testing::renderWithPoppler(file, 1, 100);
      ASSERT_TRUE(byPoppler);
      EXPECT_EQ(
          testing::wrongSquares(layered, *byPoppler, 100 / 72.0, placed, snapshot.paper.height),
          std::vector<std::string>{});
    }
  }
}

TEST_F(DriverlessPrint, APrinterThatCannotPrintUnscaledIsRefusedBeforeAnyJob) {
  // Its firmware offers only scaling modes: no job ticket could keep the artwork's size.
  std::string attributes =
      testing::readFile(std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/firmware.attrs");
  const std::string all = R"("auto","auto-fit","fill","fit","none")";
  attributes.replace(attributes.find(all), all.size(), R"("auto","fit")");
  auto printer = rig.addFirmwarePrinter("scaling_only", dir.write("scaling.attrs", attributes));
  save(printer.queue, Orientation::portrait);
  json result = print(request(printer.queue, dir.write("ruler.pdf", ruler(400, 500))));
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"],
            "The printer \"scaling_only\" cannot print pages without scaling them (print-scaling "
            "\"none\"), so the artwork would not print at exact size. Nothing was sent to it.");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(testing::CupsRig::keptJobsIn(printer.jobs).empty());
}

TEST_F(DriverlessPrint, ASubstitutedAttributeCancelsTheJobBeforeItsDocument) {
  // The plain queue has no borderless A4: cupsd accepts a job asking for it with
  // successful-ok-ignored-or-substituted-attributes and other margins.
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                              5000, nullptr);
  ASSERT_NE(http, nullptr);
  const JobTarget target = JobTarget::toQueue(http, rig.queue());
  const std::vector<PrintOption> options = {
      {"media-col",
       "{media-size={x-dimension=21000 y-dimension=29700} media-bottom-margin=0 "
       "media-left-margin=0 media-right-margin=0 media-top-margin=0}"},
      {"print-scaling", "none"},
  };
  try {
    createCheckedJob(target, "borderless", options);
    ADD_FAILURE() << "a substituted media-col was accepted";
  } catch (const PrintFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              std::string("The printer would have ignored or changed media-col for this job, so "
                          "it would not print at exact size; the job was cancelled.") +
                  kCheckPrintQueue);
  }
  httpClose(http);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(rig.keptJobs().empty()) << "the cancelled job printed";
  EXPECT_EQ(cupsdJobs(rig.queue()), std::vector<int>{IPP_JSTATE_CANCELED});
}

// A photo printer's firmware: A4 and 4 x 6 in listed with margins and without
// (testing/printer/borderless-firmware.attrs), the sheet chosen in the real dialog.
class Borderless : public DriverlessPrint {
 protected:
  std::map<std::string, std::string> env() const { return xvfb.helperEnv(rig.environment()); }
  json run(const std::string& mode, const json& r) {
    auto out = testing::runVardelle(mode, dir.write(mode + ".json", r.dump()), env());
    lastError = out.err;
    return json::parse(out.out);
  }
  // `entry` of the queue's PPD saved through the dialog, which starts from an earlier preset on
  // it and is confirmed with Return.
  json saveThroughDialog(const std::string& queue, const std::string& entry,
                         Orientation orientation) {
    PrintSettings earlier(queue);
    EXPECT_TRUE(earlier.setOption(PrintSettings::kPageSize, entry));
    earlier.setOrientation(orientation);
    snapshot = testing::savedSnapshot(earlier);
    dir.write("preset.json", snapshot.toFileBytes());
    json r = {{"printerName", queue},
              {"printerId", *snapshot.printerId},
              {"snapshotPath", dir.file("preset.json")},
              {"scalePercent", 100}};
    std::thread user([&] { testing::answerWindow(xvfb.display(), "Printer Settings", "Return"); });
    json saved = run("settings", r);
    user.join();
    snapshot = decodeSnapshot(testing::readFile(dir.file("preset.json")), "preset");
    return saved;
  }

  testing::Xvfb xvfb;
};

std::string photoPrinterAttributes() {
  return std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/borderless-firmware.attrs";
}

TEST_F(Borderless, TheSheetSavedIsTheSheetTheFirmwareReceivesMarginsAndAll) {
  auto printer = rig.addFirmwarePrinter("photo", photoPrinterAttributes());
  struct Case {
    const char* entry;
    Orientation orientation;
    double widthPt, heightPt;  // the sheet as printed
    const char* name;          // as the dialog shows it
    const char* margins;       // the media-col the printer must receive
  };
  const char* kZero =
      "media-bottom-margin=0 media-left-margin=0 media-right-margin=0 media-top-margin=0";
  const Case cases[] = {
      {"A4.Borderless", Orientation::portrait, 595.2756, 841.8898, "A4 (Borderless)", kZero},
      {"A4.Borderless", Orientation::landscape, 841.8898, 595.2756, "A4 (Borderless)", kZero},
      {"4x6.Borderless", Orientation::portrait, 288, 432, "4x6 (Borderless)", kZero},
      {"A4", Orientation::portrait, 595.2756, 841.8898, "A4",
       "media-bottom-margin=470 media-left-margin=320 media-right-margin=590 "
       "media-top-margin=730"},
  };
  size_t printed = 0;
  for (const Case& c : cases) {
    const bool landscape = c.orientation == Orientation::landscape;
    SCOPED_TRACE(std::string(c.entry) + (landscape ? " landscape" : " portrait"));
    json saved = saveThroughDialog(printer.queue, c.entry, c.orientation);
    ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
    const std::string name = saved["summary"]["paperName"];
    EXPECT_EQ(name.find(".Borderless"), std::string::npos) << name;
    std::printf("%s saved as \"%s\"\n", c.entry, name.c_str());
    const bool borderless = c.margins == kZero;
    if (borderless) {
      EXPECT_NE(name.find("Borderless"), std::string::npos) << name;
      EXPECT_EQ(snapshot.paper.imageable().width, snapshot.paper.width);
      EXPECT_EQ(snapshot.paper.imageable().height, snapshot.paper.height);
    }

    // A ruler of the whole sheet with its squares a millimetre from the edges: any margin the
    // printer kept would cut them.
    const double inset = borderless ? 3 : 25;
    json r = request(printer.queue,
                     dir.write("sheet.pdf", testing::placedRulerPdf(c.widthPt, c.heightPt, inset)));
    r["acceptMarginClipping"] = !borderless;
    for (const char* mode : {"inspect", "preview"}) {
      json look = r;
      look["outputPath"] = dir.file("preview.pdf");
      json looked = run(mode, look);
      ASSERT_EQ(looked["ok"], true) << mode << looked.dump() << lastError;
      EXPECT_EQ(looked["document"]["fits"], true) << mode;
      EXPECT_EQ(looked["document"]["requiresClipping"], !borderless) << mode;
      EXPECT_EQ(looked["summary"]["paperName"], name) << mode;
    }
    json result = run("print", r);
    ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
    ++printed;

    std::vector<testing::CupsRig::KeptJob> jobs;
    for (int i = 0; i < 600 && jobs.size() < printed; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      jobs = testing::CupsRig::keptJobsIn(printer.jobs);
    }
    ASSERT_EQ(jobs.size(), printed);
    const auto& job = jobs.back();
    const std::string col = job.attributes.at("IPP_MEDIA_COL");
    std::printf("  the printer received media-col %s\n", col.c_str());
    std::istringstream wanted(c.margins);
    for (std::string member; wanted >> member;) {
      EXPECT_NE(col.find(member), std::string::npos) << member << " in " << col;
    }
    EXPECT_EQ(job.attributes.at("IPP_PRINT_SCALING"), "none");
    const std::string render = testing::readFile(job.file + ".render");
    EXPECT_EQ(render, "page 1 none scale 1\n");
    auto image = testing::decodePng(testing::readFile(job.file + "-page1.png"));
    ASSERT_TRUE(image) << render;
    const auto placed = artwork::placement({c.widthPt, c.heightPt}, 100, snapshot.paper, 0, 0);
    const auto landing =
        testing::measurePlacedRuler(*image, kDpi, placed, c.widthPt, c.heightPt, landscape, inset);
    ASSERT_TRUE(landing.missing.empty()) << landing.missing;
    std::printf("  worst square error %.4f mm, scale %.6f\n", landing.worstErrorMm, landing.scale);
    EXPECT_LE(landing.worstErrorMm, 0.06);
    EXPECT_NEAR(landing.scale, 1, 0.0005);
  }
  EXPECT_TRUE(cupsdJobs(printer.queue).empty());
}

}  // namespace
}  // namespace vardelle::printing
