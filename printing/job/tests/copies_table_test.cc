// The README's table "Copies, collation and sides", row by row: for each route and whoever makes
// the copies, every combination of 1 or 2 copies, Collate on or off, one side or either two-sided
// binding, and 1, 3 or 4 pages is printed, and what the printer or the driver received is read
// back: the pages in order (page k of the artwork carries k squares, a blank side none), how often
// it makes each of them, the sides and the collation the job asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "color/output_profile.h"
#include "printing/job/copies.h"
#include "printing/settings/print_settings.h"
#include "testing/cups_rig.h"
#include "testing/edited_text.h"
#include "testing/icc_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/print_snapshot.h"
#include "testing/ruler.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;

constexpr double kPt = 72.0 / 25.4;

// The rows of the table.
enum class Row {
  queuePdftopdf,   // PDF to a queue whose PPD has pdftopdf make copies (a raster-only printer)
  queuePrinter,    // PDF to a queue that leaves them to the printer (a PDF printer)
  queueBackend,    // PDF to a Gutenprint dye-sublimation queue: its backend repeats pages
  devicePrinter,   // PDF straight to a driverless printer that makes copies
  deviceDocument,  // PDF straight to a driverless printer that makes none
  rasterDocument,  // 16-bit raster to a Gutenprint inkjet: the document holds them
  rasterBackend,   // 16-bit raster to a Gutenprint dye-sublimation printer
};

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
  switch (info.param) {
    case Row::queuePdftopdf:
      return "PdfToAQueuePdftopdfMakesThem";
    case Row::queuePrinter:
      return "PdfToAQueueThePrinterMakesThem";
    case Row::queueBackend:
      return "PdfToAQueueTheDyeSublimationBackendRepeatsPages";
    case Row::devicePrinter:
      return "PdfStraightToThePrinterWhichMakesThem";
    case Row::deviceDocument:
      return "PdfStraightToAPrinterWithoutCopiesTheDocumentHoldsThem";
    case Row::rasterDocument:
      return "RasterToAGutenprintInkjetTheDocumentHoldsThem";
    case Row::rasterBackend:
      return "RasterToADyeSublimationPrinterItsBackendRepeatsPages";
  }
  return "";
}

bool firmwareRow(Row row) {
  return row == Row::queuePdftopdf || row == Row::queuePrinter || row == Row::devicePrinter ||
         row == Row::deviceDocument;
}
bool dyeSublimationRow(Row row) { return row == Row::queueBackend || row == Row::rasterBackend; }
bool rasterRow(Row row) { return row == Row::rasterDocument || row == Row::rasterBackend; }

// What the printer or the driver received for one job.
struct Received {
  std::vector<int> marks;  // the squares on each side, in order: the page, 0 for a blank side
  int repeats = 1;         // how often it makes each side it received
  std::string sides;       // the sides the job asked for
  std::string handling;    // the multiple-document-handling the job asked for, if any
};

// An artwork of `pages` pages, page k carrying k squares of 8 mm.
std::string markedPages(size_t pages) {
  std::vector<testing::FixturePage> fixture;
  for (size_t k = 1; k <= pages; ++k) {
    testing::FixturePage page;
    page.mediaBox = {0, 0, 80 * kPt, 100 * kPt};
    for (size_t square = 0; square < k; ++square) {
      page.content +=
          testing::fillRect((6 + 18.0 * double(square)) * kPt, 46 * kPt, 8 * kPt, 8 * kPt, 0, 0, 0);
    }
    fixture.push_back(page);
  }
  return testing::makeFixturePdf(fixture);
}

std::vector<int> squaresOn(const std::vector<testing::DarknessImage>& pages) {
  std::vector<int> found;
  for (const testing::DarknessImage& page : pages) {
    found.push_back(static_cast<int>(testing::findSquares(page, 20).size()));
  }
  return found;
}

std::string listed(const std::vector<int>& sides) {
  std::string text;
  for (int side : sides) text += (text.empty() ? "" : " ") + std::to_string(side);
  return text;
}

class CopiesTable : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    const Row row = GetParam();
    const std::string source = VARDELLE_SOURCE_DIR "/testing/printer/";
    if (firmwareRow(row)) {
      std::string attributes = testing::readFile(
          source + (row == Row::queuePdftopdf ? "raster-firmware.attrs" : "firmware.attrs"));
      attributes =
          testing::replacedAll(attributes, "ATTR keyword sides-supported \"one-sided\"",
                               "ATTR keyword sides-supported \"one-sided\",\"two-sided-long-edge\","
                               "\"two-sided-short-edge\"");
      // Fewer dots make the printer's own rendering of each side quick.
      attributes = testing::replacedAll(attributes, "300x300dpi", "100x100dpi");
      attributes = testing::replacedAll(attributes, "RS300", "RS100");
      if (row == Row::queuePrinter) {
        // Without print-scaling the queue is the route (chooseRoute).
        attributes = testing::replacedAll(attributes, "ATTR keyword print-scaling-supported",
                                          "# ATTR keyword print-scaling-supported");
        attributes = testing::replacedAll(attributes, "ATTR keyword print-scaling-default",
                                          "# ATTR keyword print-scaling-default");
      }
      if (row == Row::deviceDocument) {
        attributes =
            testing::replacedAll(attributes, "copies-supported 1-999", "copies-supported 1-1");
      }
      printer = rig.addFirmwarePrinter("table", dir.write("table.attrs", attributes));
      queue = printer.queue;
      return;
    }
    if (dyeSublimationRow(row)) {
      queue = "ds40";
      rig.addDriverQueue(queue, "gutenprint.5.3://dnp-ds40/expert", "w288h432");
    } else {
      queue = "ip4500";
      rig.addDriverQueue(queue, "gutenprint.5.3://bjc-PIXMA-iP4500/expert", "A6");
    }
  }

  // Saves the preset for `collated` copies printed on `sides`.
  void savePreset(bool collated, const std::string& sides) const {
    const Row row = GetParam();
    PrintSettings settings(queue);
    auto set = [&](std::string_view name, std::string_view value) {
      EXPECT_TRUE(settings.setOption(name, value)) << name;
    };
    if (firmwareRow(row)) {
      set(PrintSettings::kPageSize, "A4");
      set(PrintSettings::kMedia, "iso_a4_210x297mm");
    } else {
      set(PrintSettings::kPageSize, dyeSublimationRow(row) ? "w288h432" : "A6");
    }
    if (row == Row::rasterDocument) {
      // The inkjet's draft resolution keeps each job short.
      set("StpQuality", "None");
      set("Resolution", "301x300dpi");
    }
    // The dialog saves a PPD's own Duplex choice; a dye-sublimation PPD has none, and a sides
    // saved for it anyway must not make blank prints.
    if (dyeSublimationRow(row)) {
      set("sides", sides);
    } else {
      set("Duplex", sides == kTwoSidedLongEdge    ? "DuplexNoTumble"
                    : sides == kTwoSidedShortEdge ? "DuplexTumble"
                                                  : "None");
    }
    set("Collate", collated ? "True" : "False");
    dir.write("preset.json", testing::savedSnapshot(settings, false).toFileBytes());
  }

  json request(const std::string& artwork, int copies) const {
    json r = {{"printerName", queue}, {"snapshotPath", dir.file("preset.json")},
              {"scalePercent", 100},  {"filePath", artwork},
              {"copies", copies},     {"acceptMarginClipping", true}};
    if (rasterRow(GetParam())) {
      const std::string profile = testing::makeLutRgbPrinterProfile("Test RGB Printer", 9);
      r["colorManagement"] = {{"mode", "application"},
                              {"profileId", color::profileId(profile)},
                              {"profilePath", dir.write("printer.icc", profile)},
                              {"renderingIntent", "relativeColorimetric"},
                              {"blackPointCompensation", false},
                              {"driverColorManagementDisabled", true}};
    }
    return r;
  }

  // Prints `r` and reads back what the printer or the driver received; none (with a failure
  // added) when the print failed or nothing arrived.
  std::optional<Received> print(const json& r) {
    auto out =
        testing::runVardelle("print", dir.write("request.json", r.dump()), rig.environment());
    const json result = json::parse(out.out, nullptr, false);
    if (result.value("ok", false) != true) {
      ADD_FAILURE() << out.out << out.err;
      return std::nullopt;
    }
    ++jobs;
    Received received;
    if (firmwareRow(GetParam())) {
      std::vector<testing::CupsRig::KeptJob> kept;
      for (int i = 0; i < 600 && kept.size() < jobs; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kept = testing::CupsRig::keptJobsIn(printer.jobs);
      }
      if (kept.size() != jobs) {
        ADD_FAILURE() << "the printer received no job";
        return std::nullopt;
      }
      const testing::CupsRig::KeptJob& job = kept.back();
      const bool pdf = testing::readFile(job.file).starts_with("%PDF");
      auto pages =
          pdf ? testing::renderAllWithGhostscript(job.file, 30) : testing::readCupsRaster(job.file);
      if (!pages) {
        ADD_FAILURE() << "the printer's document could not be read";
        return std::nullopt;
      }
      received.marks = squaresOn(*pages);
      auto attribute = [&](const char* name, const char* absent) {
        auto found = job.attributes.find(name);
        return found == job.attributes.end() ? std::string(absent) : found->second;
      };
      received.repeats = std::atoi(attribute("IPP_COPIES", "1").c_str());
      received.sides = attribute("IPP_SIDES", kOneSided);
      received.handling = attribute("IPP_MULTIPLE_DOCUMENT_HANDLING", "");
      return received;
    }
    const std::vector<int> completed = rig.waitForCompletedJobs(queue, jobs);
    if (completed.size() != jobs) {
      ADD_FAILURE() << "the job did not complete";
      return std::nullopt;
    }
    const int job = completed.back();
    std::optional<std::vector<testing::DarknessImage>> pages;
    if (rasterRow(GetParam())) {
      pages = testing::readCupsRaster(rig.spooledDocument(job));
    } else if (auto raster = rig.remadeDriverRaster(queue, job, dir.file("driver.ras"))) {
      pages = testing::readCupsRaster(*raster);
    }
    if (!pages) {
      ADD_FAILURE() << "what the driver received could not be read";
      return std::nullopt;
    }
    received.marks = squaresOn(*pages);
    // The sheets the driver printed are the sides it received.
    EXPECT_EQ(rig.driverSheets(job), static_cast<int>(received.marks.size()));
    // A dye-sublimation backend prints every page as often as the job says (argv[4]); an
    // inkjet's prints each sheet once, and so must be told one.
    const int told = rig.driverCopies(job);
    if (dyeSublimationRow(GetParam())) {
      received.repeats = told;
    } else {
      EXPECT_EQ(told, 1);
    }
    const std::string options = " " + rig.driverOptions(job) + " ";
    for (const char* sides : {kOneSided, kTwoSidedLongEdge, kTwoSidedShortEdge}) {
      if (options.find(std::string(" sides=") + sides + " ") != std::string::npos) {
        received.sides = sides;
      }
    }
    for (const char* handling : {kCollatedCopies, kUncollatedCopies}) {
      if (options.find(std::string("multiple-document-handling=") + handling) !=
          std::string::npos) {
        received.handling = handling;
      }
    }
    return received;
  }

  testing::CupsRig rig;
  testing::TempDir dir;
  testing::CupsRig::FirmwarePrinter printer;
  std::string queue;
  size_t jobs = 0;
};

TEST_P(CopiesTable, EveryCombinationPrintsExactlyTheCopiesEachSetFromAFrontSide) {
  const Row row = GetParam();
  const auto start = std::chrono::steady_clock::now();
  int printed = 0;
  for (size_t pages : {1, 3, 4}) {
    const std::string artwork =
        dir.write("pages-" + std::to_string(pages) + ".pdf", markedPages(pages));
    for (const char* sides : {kOneSided, kTwoSidedLongEdge, kTwoSidedShortEdge}) {
      for (bool collated : {false, true}) {
        savePreset(collated, sides);
        for (int copies : {1, 2}) {
          // Collation means nothing to one copy.
          if (copies == 1 && collated) continue;
          SCOPED_TRACE(std::to_string(copies) + (collated ? " collated" : "") + " copies, " +
                       sides + ", " + std::to_string(pages) + " pages");
          const std::optional<Received> got = print(request(artwork, copies));
          if (!got) continue;
          ++printed;
          std::printf("%s, %d%s copies, %s, %zu pages: received %s, each made %d times\n",
                      rowName({row, 0}).c_str(), copies, collated ? " collated" : "", sides, pages,
                      listed(got->marks).c_str(), got->repeats);

          // A dye-sublimation printer prints one side of each sheet.
          const std::string twoSided = dyeSublimationRow(row) ? kOneSided : sides;
          EXPECT_EQ(got->sides, twoSided);

          // Exactly the copies asked: every page, times what the receiver makes of it.
          for (int page = 1; page <= int(pages); ++page) {
            EXPECT_EQ(std::count(got->marks.begin(), got->marks.end(), page) * got->repeats, copies)
                << "page " << page << " in " << listed(got->marks);
          }
          for (int side : got->marks) {
            EXPECT_TRUE(side >= 0 && side <= int(pages)) << listed(got->marks);
          }

          // Who makes them, as the row says.
          std::vector<int> oneSet;
          for (int page = 1; page <= int(pages); ++page) oneSet.push_back(page);
          const bool documentSets = dyeSublimationRow(row) && collated && copies > 1 && pages > 1;
          const bool receiverMakesThem = row == Row::queuePrinter || row == Row::devicePrinter ||
                                         (dyeSublimationRow(row) && !documentSets);
          if (receiverMakesThem) {
            EXPECT_EQ(got->marks, oneSet);
            EXPECT_EQ(got->repeats, copies);
            if (copies > 1 && !dyeSublimationRow(row)) {
              EXPECT_EQ(got->handling, collated ? kCollatedCopies : kUncollatedCopies);
            }
            continue;
          }
          EXPECT_EQ(got->repeats, 1);

          // Made before they arrived (by pdftopdf or in the document): two-sided copies are
          // collated, each set starting on a front side, and no sheet has a page on both
          // faces; uncollated one-sided copies repeat each page.
          std::vector<int> expected;
          const bool twoSidedSheets = twoSided != kOneSided;
          if (collated || twoSidedSheets || copies == 1) {
            for (int copy = 0; copy < copies; ++copy) {
              if (copy > 0 && twoSidedSheets && expected.size() % 2 == 1) expected.push_back(0);
              expected.insert(expected.end(), oneSet.begin(), oneSet.end());
            }
          } else {
            for (int page : oneSet) expected.insert(expected.end(), size_t(copies), page);
          }
          std::vector<int> arrived = got->marks;
          // A blank back after the last set changes nothing (pdftopdf may add one).
          if (arrived.size() == expected.size() + 1 && arrived.back() == 0) arrived.pop_back();
          EXPECT_EQ(arrived, expected) << listed(got->marks);
          if (twoSidedSheets) {
            for (size_t side = 0; side + 1 < got->marks.size(); side += 2) {
              EXPECT_FALSE(got->marks[side] != 0 && got->marks[side] == got->marks[side + 1])
                  << "one page on both faces of sheet " << side / 2;
            }
          }
        }
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %d prints in %.0f s\n", rowName({row, 0}).c_str(), printed, seconds);
  EXPECT_EQ(printed, 27);
}

INSTANTIATE_TEST_SUITE_P(Rows, CopiesTable,
                         ::testing::Values(Row::queuePdftopdf, Row::queuePrinter, Row::queueBackend,
                                           Row::devicePrinter, Row::deviceDocument,
                                           Row::rasterDocument, Row::rasterBackend),
                         rowName);

}  // namespace
}  // namespace vardelle::printing
