// `print` end to end against a private cupsd and the virtual printer: what the printer receives,
// where it lands on the sheet compared with the preview, and what is refused before any job.

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "artwork/artwork.h"
#include "base/print_failure.h"
#include "printing/cups/printers.h"
#include "printing/job/route.h"
#include "printing/job/submission.h"
#include "testing/cups_rig.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/print_snapshot.h"
#include "testing/raster_probe.h"
#include "testing/run_process.h"
#include "testing/silent_server.h"
#include "testing/temp_dir.h"
#include "testing/tmpfs.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;
using testing::FixturePage;

constexpr const char* kA4 = "iso_a4_210x297mm";

// Four coloured corner marks and an off-centre one, so that a turn, a mirror image or a shift
// shows.
std::string markers(double width, double height) {
  const double s = 24;
  return testing::fillRect(0, 0, s, s, 1, 0, 0) + testing::fillRect(width - s, 0, s, s, 0, 0.7, 0) +
         testing::fillRect(0, height - s, s, s, 0, 0, 1) +
         testing::fillRect(width - s, height - s, s, s, 0, 0, 0) +
         testing::fillRect(width * 0.3, height * 0.6, s * 2, s, 1, 0, 1);
}

FixturePage markedPage(double width, double height) {
  FixturePage page;
  page.mediaBox = {0, 0, width, height};
  page.content = markers(width, height);
  return page;
}

// Pages that exercise the drawing: plain, turned by /Rotate, cut by a crop box, and one so
// large that the printable area clips it.
std::string geometryArtwork() {
  FixturePage plain = markedPage(200, 300);
  FixturePage turned = markedPage(300, 180);
  turned.rotate = 90;
  FixturePage cropped = markedPage(260, 260);
  cropped.cropBox = testing::PdfBox{12, 20, 240, 250};
  FixturePage large = markedPage(560, 560);
  return testing::makeFixturePdf({plain, turned, cropped, large});
}

// Jobs cupsd knows of, in any state, with every attribute as text.
std::vector<std::map<std::string, std::string>> cupsdJobs() {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  // cupsd shows a job's name only to its owner.
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  std::vector<std::map<std::string, std::string>> jobs;
  if (!response) return jobs;
  std::map<std::string, std::string> job;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (!ippGetName(a)) {
      if (!job.empty()) jobs.push_back(std::move(job));
      job.clear();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    char text[2048];
    ippAttributeString(a, text, sizeof text);
    job[ippGetName(a)] = text;
  }
  if (!job.empty()) jobs.push_back(std::move(job));
  ippDelete(response);
  return jobs;
}

struct PdfPageSize {
  double width = 0, height = 0;
};
std::vector<PdfPageSize> pageSizes(const std::string& pdf) {
  auto info = testing::runProcess({"/usr/bin/pdfinfo", "-f", "1", "-l", "9999", pdf});
  std::vector<PdfPageSize> sizes;
  std::regex line(R"(Page +\d+ size: +([0-9.]+) x ([0-9.]+) pts)");
  for (std::sregex_iterator m(info.out.begin(), info.out.end(), line), end; m != end; ++m) {
    sizes.push_back({std::stod((*m)[1]), std::stod((*m)[2])});
  }
  return sizes;
}

// The image turned a quarter counter-clockwise: undoes the filter's clockwise turn of a
// landscape sheet onto portrait media.
testing::DecodedImage turnedBack(const testing::DecodedImage& portrait) {
  testing::DecodedImage out;
  out.width = portrait.height;
  out.height = portrait.width;
  out.rgba.resize(portrait.rgba.size());
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const unsigned char* from =
          portrait.rgba.data() + (size_t(x) * portrait.width + (portrait.width - 1 - y)) * 4;
      std::copy(from, from + 4, out.rgba.data() + (size_t(y) * out.width + x) * 4);
    }
  }
  return out;
}

struct Difference {
  long differing = 0;  ///< pixels where a channel differs by more than 64
  long total = 0;
  int markerShift = 0;  ///< the largest distance, in pixels, between the same marker's edges
};

// The bounding box of the pixels close to one colour.
std::array<int, 4> bounds(const testing::DecodedImage& image, int r, int g, int b) {
  std::array<int, 4> box{image.width, image.height, -1, -1};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      auto p = image.at(x, y);
      if (std::abs(p.r - r) < 40 && std::abs(p.g - g) < 40 && std::abs(p.b - b) < 40) {
        box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
      }
    }
  }
  return box;
}
Difference compare(const testing::DecodedImage& a, const testing::DecodedImage& b) {
  Difference d;
  if (a.width != b.width || a.height != b.height) return {-1, 0};
  d.total = long(a.width) * a.height;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      auto p = a.at(x, y), q = b.at(x, y);
      if (std::abs(p.r - q.r) > 64 || std::abs(p.g - q.g) > 64 || std::abs(p.b - q.b) > 64) {
        ++d.differing;
      }
    }
  }
  static constexpr int kMarkers[][3] = {{255, 0, 0}, {0, 179, 0}, {0, 0, 255}, {255, 0, 255}};
  for (const auto& c : kMarkers) {
    auto expected = bounds(a, c[0], c[1], c[2]), received = bounds(b, c[0], c[1], c[2]);
    for (int i = 0; i < 4; ++i) {
      d.markerShift = std::max(d.markerShift, std::abs(expected[i] - received[i]));
    }
  }
  return d;
}

class PrintCommand : public ::testing::Test {
 protected:
  void save(Orientation orientation, int copies = 1) {
    PrintSettings settings = testing::paperSettings(rig.queue(), kA4, orientation);
    ASSERT_TRUE(settings.setOption("copies", std::to_string(copies)));
    snapshot = testing::savedSnapshot(settings);
    writeSnapshot();
  }
  void writeSnapshot() { snapshotPath = dir.write("preset.json", snapshot.toFileBytes()); }

  json request(const std::string& artwork) const {
    return {{"printerName", rig.queue()},
            {"printerId", *snapshot.printerId},
            {"snapshotPath", dir.file("preset.json")},
            {"filePath", artwork},
            {"scalePercent", 100}};
  }

  json run(const std::string& mode, const json& r) {
    const std::string path = dir.write("request-" + std::to_string(++runs) + ".json", r.dump());
    auto out = testing::runVardelle(mode, path, rig.environment());
    lastError = out.err;
    try {
      return json::parse(out.out);
    } catch (const json::exception&) {
      ADD_FAILURE() << "not one JSON line: " << out.out << "\n" << out.err;
      return json::object();
    }
  }

  testing::CupsRig rig;
  testing::TempDir dir;
  NativeSnapshot snapshot;
  std::string snapshotPath;
  std::string lastError;
  int runs = 0;
};

TEST_F(PrintCommand, ThePrinterReceivesEveryPageAtPaperSizeWithCopiesAndTitle) {
  save(Orientation::portrait, 2);
  const std::string artwork = dir.write(
      "Poster (final).pdf",
      testing::makeFixturePdf({markedPage(200, 300), markedPage(400, 250), markedPage(100, 100)}));
  json r = request(artwork);
  r["copies"] = 3;
  json result = run("print", r);
  ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
  EXPECT_EQ(result["submitted"], true);
  EXPECT_EQ(result["summary"]["copies"], 2) << "the saved copies stay in the summary";
  EXPECT_EQ(result["document"]["pageCount"], 3);

  auto jobs = rig.waitForJobs(1);
  ASSERT_EQ(jobs.size(), 1u);
  auto sizes = pageSizes(jobs[0].file);
  ASSERT_EQ(sizes.size(), 3u);
  for (const auto& size : sizes) {
    EXPECT_NEAR(size.width, snapshot.paper.width, 0.01);
    EXPECT_NEAR(size.height, snapshot.paper.height, 0.01);
  }
  EXPECT_EQ(jobs[0].attributes["IPP_COPIES"], "3");
  EXPECT_EQ(jobs[0].attributes["IPP_JOB_NAME"], "Poster (final).pdf");

  auto queued = cupsdJobs();
  ASSERT_EQ(queued.size(), 1u);
  auto& job = queued[0];
  EXPECT_EQ(job["job-name"], "Poster (final).pdf");
  EXPECT_EQ(job["copies"], "3");
  EXPECT_EQ(job["media"], kA4);
  EXPECT_EQ(job["print-scaling"], "none");
  EXPECT_EQ(job["number-up"], "1");
  EXPECT_EQ(job["sides"], "one-sided");
  EXPECT_EQ(job["job-sheets"], "none,none");
  EXPECT_EQ(job.count("cm-calibration"), 0u);
  EXPECT_EQ(job.count("orientation-requested"), 0u);
  EXPECT_EQ(job.count("landscape"), 0u);

  // Without a file path (only reachable in-process) the title is "Artwork".
}

TEST_F(PrintCommand, ApplicationColourMarksTheJobAsMatchedPrinterColourDoesNot) {
  // Conversion itself is another module's; here the already managed artwork is handed to the
  // submission directly, as the dispatcher does after converting.
  save(Orientation::portrait);
  const std::string path = dir.write("art.pdf", testing::makeFixturePdf({markedPage(200, 300)}));
  const artwork::Artwork art = artwork::Artwork::load(path, std::nullopt);
  const DocumentInfo document = art.inspect(100, snapshot.paper, 0, 0);
  PrintRequest r;
  r.printerName = rig.queue();
  r.printerId = snapshot.printerId;
  r.snapshotPath = snapshotPath;
  r.filePath = path;
  HelperResult printed = submit(art, r, snapshot, document);
  EXPECT_EQ(printed.submitted, true);

  ColorManagement color;
  color.mode = "application";
  color.renderingIntent = "relativeColorimetric";
  color.profileId = "printer-profile";
  color.profilePath = "/usr/share/color/icc/printer.icc";
  color.driverColorManagementDisabled = true;
  r.colorManagement = color;
  r.filePath.reset();
  printed = submit(art, r, snapshot, document);
  EXPECT_EQ(printed.submitted, true);

  auto jobs = cupsdJobs();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].count("cm-calibration"), 0u);
  EXPECT_EQ(jobs[1].count("cm-calibration"), 1u);
  EXPECT_EQ(jobs[1]["job-name"], "Artwork");
  for (auto& job : jobs) {
    EXPECT_EQ(job.count("AP_ColorMatchingMode"), 0u);
    EXPECT_EQ(job.count("PMCustomProfilePath"), 0u);
  }
  EXPECT_EQ(rig.waitForJobs(2).size(), 2u);
}

// Rasterises page `page` of both files at 150 DPI and compares them pixel by pixel.
Difference pageDifference(const std::string& preview, const std::string& printed, int page,
                          bool landscape) {
  auto expected = testing::renderWithPoppler(preview, page, 150);
  auto received = testing::renderWithPoppler(printed, page, 150);
  if (!expected || !received) return {-1, 0};
  return compare(*expected, landscape ? turnedBack(*received) : *received);
}

TEST_F(PrintCommand, PrintedSheetsMatchThePreviewPortraitAndLandscape) {
  const std::string artwork = dir.write("geometry.pdf", geometryArtwork());
  for (Orientation orientation : {Orientation::portrait, Orientation::landscape}) {
    const bool landscape = orientation == Orientation::landscape;
    SCOPED_TRACE(landscape ? "landscape" : "portrait");
    save(orientation);
    json r = request(artwork);
    r["offsetXmm"] = 4.5;
    r["offsetYmm"] = -3;
    r["outputPath"] = dir.file(landscape ? "landscape.pdf" : "portrait.pdf");
    json previewed = run("preview", r);
    ASSERT_EQ(previewed["ok"], true) << previewed.dump();
    ASSERT_EQ(previewed["document"]["requiresClipping"], true);

    r.erase("outputPath");
    r["acceptMarginClipping"] = true;
    json printed = run("print", r);
    ASSERT_EQ(printed["ok"], true) << printed.dump() << lastError;
    auto jobs = rig.waitForJobs(landscape ? 2 : 1);
    ASSERT_EQ(jobs.size(), landscape ? 2u : 1u);
    const std::string job = jobs.back().file;
    ASSERT_EQ(pageSizes(job).size(), 4u);
    for (int page = 1; page <= 4; ++page) {
      Difference d = pageDifference(dir.file(landscape ? "landscape.pdf" : "portrait.pdf"), job,
                                    page, landscape);
      ASSERT_GE(d.differing, 0) << "page " << page << " could not be rendered or differs in size";
      std::printf(
          "geometry %s page %d: %ld of %ld pixels differ at 150 DPI, marker edges within %d px\n",
          landscape ? "landscape" : "portrait", page, d.differing, d.total, d.markerShift);
      EXPECT_LE(d.differing, d.total / 2000) << "page " << page;
      EXPECT_LE(d.markerShift, 1) << "page " << page;
    }
  }
}

TEST_F(PrintCommand, RefusalsComeBeforeAnyJobExists) {
  save(Orientation::portrait, 2);
  const std::string artwork = dir.write("art.pdf", testing::makeFixturePdf({markedPage(400, 400)}));
  const std::string large = dir.write("large.pdf", testing::makeFixturePdf({markedPage(590, 830)}));
  auto refused = [&](json r, const std::string& message) {
    json result = run("print", r);
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["error"], message) << r.dump();
  };

  json tooLarge = request(artwork);
  tooLarge["scalePercent"] = 200;
  refused(tooLarge, "The artwork exceeds the paper. Reduce scale or choose larger paper.");

  const std::string clipping =
      "The artwork extends into unprintable margins. Preview the clipped result and acknowledge "
      "margin clipping before printing.";
  refused(request(large), clipping);
  json notAcknowledged = request(large);
  notAcknowledged["acceptMarginClipping"] = false;
  refused(notAcknowledged, clipping);

  // Said before the snapshot is read: there is none at this path.
  json driver = request(artwork);
  driver["snapshotPath"] = dir.file("never-saved.json");
  driver["colorManagement"] = {{"mode", "application"},
                               {"profileId", "p"},
                               {"profilePath", "/usr/share/color/icc/p.icc"},
                               {"renderingIntent", "perceptual"},
                               {"blackPointCompensation", true},
                               {"driverColorManagementDisabled", false}};
  refused(driver,
          "Disable printer-driver color correction in this preset's Printer settings, then "
          "acknowledge it before application-managed printing.");

  json noArtwork = driver;
  noArtwork["filePath"] = "";
  refused(noArtwork, "Choose a PDF or PNG file first.");

  for (int copies : {0, 100}) {
    json r = request(artwork);
    r["copies"] = copies;
    refused(r, "Copies must be a whole number between 1 and 99.");
  }

  const NativeSnapshot saved = snapshot;
  snapshot.paper.imageableY += 0.03;
  writeSnapshot();
  refused(request(artwork),
          "The printer's paper or margins changed since this preset was saved. Save Printer "
          "Settings again and preview the result.");
  snapshot = saved;
  snapshot.paper.width -= 0.03;
  writeSnapshot();
  refused(request(artwork),
          "The printer's paper or margins changed since this preset was saved. Save Printer "
          "Settings again and preview the result.");
  snapshot = saved;
  writeSnapshot();

  // The queue deleted and made again under the same name is another printer.
  rig.deleteQueue(rig.queue());
  refused(request(artwork), kPrinterNotInstalled);
  rig.addQueue(rig.queue());
  refused(request(artwork),
          "The native printer identity does not match this preset. Refresh the printer list and "
          "save Printer Settings again.");

  EXPECT_TRUE(cupsdJobs().empty()) << "a refused print reached the queue";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(rig.keptJobs().empty());
}

// The whole document is composed before a job exists, so a page that cannot be drawn fails
// with its own sentence and without the print-queue tail: nothing is waiting there.
TEST_F(PrintCommand, APageThatCannotBeDrawnFailsBeforeAnyJob) {
  save(Orientation::portrait);
  testing::PngOptions options;
  options.width = 300;
  options.height = 200;
  options.pixelsPerMeterX = options.pixelsPerMeterY = testing::pixelsPerMeter(150);
  std::string png = testing::makePng(options);
  // Damage the compressed image data; the header and chunks stay readable.
  const size_t idat = png.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  for (size_t i = idat + 8; i < idat + 40 && i < png.size(); ++i) png[i] = static_cast<char>(0xA5);
  json result = run("print", request(dir.write("damaged.png", png)));
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"], "This PNG could not be opened. It may be incomplete or damaged.")
      << result.dump();
  EXPECT_TRUE(cupsdJobs().empty());
}

TEST_F(PrintCommand, DriftWithinToleranceAndTheLargestCopyCountPrint) {
  save(Orientation::portrait, 2);
  snapshot.paper.imageableY += 0.02;
  snapshot.paper.height -= 0.02;
  writeSnapshot();
  json r = request(dir.write("art.pdf", testing::makeFixturePdf({markedPage(400, 400)})));
  r["copies"] = 99;
  json result = run("print", r);
  ASSERT_EQ(result["ok"], true) << result.dump();
  EXPECT_EQ(result["summary"]["copies"], 2);
  auto jobs = rig.waitForJobs(1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].attributes["IPP_COPIES"], "99");
}

TEST_F(PrintCommand, StoppedPrintSystemIsSaidPlainlyWithoutHanging) {
  save(Orientation::portrait);
  json r = request(dir.write("art.pdf", testing::makeFixturePdf({markedPage(200, 200)})));
  rig.stopCupsd();
  auto started = std::chrono::steady_clock::now();
  json result = run("print", r);
  EXPECT_EQ(result["error"], kPrintSystemUnavailable);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
}

// A driverless printer that does not answer cannot be asked whether it would rescale the
// page, and on a cupsd that drops print-scaling its queue could deliver the job shrunk later:
// the run says so before any job exists instead of queueing it.
TEST_F(PrintCommand, AStoppedDriverlessPrinterIsSaidBeforeAnyJob) {
  save(Orientation::portrait);
  json r = request(dir.write("art.pdf", testing::makeFixturePdf({markedPage(200, 200)})));
  // Stop the virtual printer (only the process the rig started for this folder).
  const std::string rigDir = rig.environment().at("VARDELLE_TEST_PRINTER_DIR");
  const pid_t printer = std::atoi(testing::readFile(rigDir + "/run/printer.pid").c_str());
  ASSERT_GT(printer, 0);
  ASSERT_NE(testing::readFile("/proc/" + std::to_string(printer) + "/cmdline").find(rigDir),
            std::string::npos);
  ::kill(printer, SIGTERM);
  for (int i = 0; i < 100 && ::kill(printer, 0) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  json result = run("print", r);
  if (cupsForwardsPrintScaling(readQueueFacts(rig.queue()).cupsVersion)) {
    // Such a cupsd keeps the job ticket whole: the job waits in the queue.
    EXPECT_EQ(result["submitted"], true) << result.dump();
    return;
  }
  EXPECT_EQ(result["error"],
            "The printer behind \"" + rig.queue() +
                "\" could not be reached to send the artwork at exact size. Make sure it is "
                "switched on and connected, then try again.");
  EXPECT_TRUE(cupsdJobs().empty());
}

TEST_F(PrintCommand, TheSpoolBoundIsCupsdsOwnFolderAndOnlyWhereCupsdKeepsTheDocument) {
  // cupsd's RequestRoot on a full disk, named by the configuration the helper reads for it.
  testing::Tmpfs spool(1 << 20);
  if (!spool.mounted()) GTEST_SKIP() << spool.why();
  spool.fillLeaving("filler", 0);
  testing::TempDir root;
  root.write("cups-files.conf", "RequestRoot " + spool.path() + "\n");
  std::map<std::string, std::string> fullSpool = rig.environment();
  fullSpool["CUPS_SERVERROOT"] = root.path();
  const std::string artwork = dir.write("art.pdf", testing::makeFixturePdf({markedPage(200, 300)}));
  auto print = [&](const std::string& queue, const std::map<std::string, std::string>& env) {
    snapshot = testing::savedSnapshot(testing::paperSettings(queue, kA4, Orientation::portrait));
    writeSnapshot();
    json r = request(artwork);
    r["printerName"] = queue;
    auto out = testing::runVardelle("print", dir.write("spool-request.json", r.dump()), env);
    return json::parse(out.out);
  };

  // Through a queue, cupsd keeps the document in its spool folder until it is printed.
  rig.addDriverQueue("pdf", "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd");
  json refused = print("pdf", fullSpool);
  EXPECT_EQ(refused["ok"], false);
  EXPECT_EQ(refused.value("error", ""),
            "The print job would be 0.1 MB, more than the 0.0 MB left on the disk that holds "
            "the print queue. Nothing was sent. Free some disk space, then try again.");
  EXPECT_EQ(rig.jobCount("pdf"), 0u);
  // The rig's own spool folder has room.
  EXPECT_EQ(print("pdf", rig.environment())["submitted"], true);
  // Straight to a driverless printer the document waits in no spool.
  const auto straight = rig.addFirmwarePrinter("straight");
  ASSERT_EQ(chooseRoute(readRouteFacts(straight.queue)), PrintRoute::printerDevice);
  EXPECT_EQ(print(straight.queue, fullSpool)["submitted"], true);
}

TEST(PrintWatchdog, ParentGoneDuringPrintGivesOneLineWithTheQueueSentence) {
  // A print system that accepts the connection and never answers keeps the submission waiting.
  testing::SilentServer server;
  ASSERT_TRUE(server.listening());

  testing::TempDir dir;
  PrintSettings settings = testing::paperSettings("silent", kA4, Orientation::portrait);
  NativeSnapshot snapshot;
  snapshot.printerName = "silent";
  snapshot.archive = settings.archive();
  snapshot.paper = {595.2755905511812, 841.8897637795276, 18, 18, 559, 805};
  snapshot.summary.printerName = "silent";
  json r = {{"printerName", "silent"},
            {"snapshotPath", dir.write("preset.json", snapshot.toFileBytes())},
            {"filePath", dir.write("art.pdf", testing::makeFixturePdf({markedPage(200, 200)}))},
            {"scalePercent", 100}};
  const std::string requestPath = dir.write("request.json", r.dump());
  const std::string out = dir.file("out.txt");
  auto shell = testing::runProcess(
      {"/bin/sh", "-c",
       "export KORVANEL_PARENT_PID=$$; \"$0\" print \"$1\" >\"$2\" 2>/dev/null & sleep 0.7",
       VARDELLE_BINARY, requestPath, out},
      {{"CUPS_SERVER", server.address()}, {"HOME", dir.path()}});
  EXPECT_EQ(shell.exitStatus, 0);
  for (int i = 0; i < 50 && testing::readFile(out).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(testing::readFile(out),
            "{\"error\":\"The app closed before this operation finished. Check Print Center "
            "before retrying; submission may already have started.\",\"ok\":false}\n");
}

}  // namespace
}  // namespace vardelle::printing
