#include "printing/job/copies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "printing/job/job_options.h"
#include "testing/ppd_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

// Each row of the README's table: the road and what the queue and the printer say.
struct Row {
  const char* name;
  DocumentRoad road;
  CopyFacts facts;
};

const std::vector<std::string> kBothHandlings = {kUncollatedCopies, kCollatedCopies};

const Row kRows[] = {
    {"PDF to a queue, pdftopdf", DocumentRoad::pdfToQueue, {true, false, 1, {}}},
    {"PDF to a queue, the printer", DocumentRoad::pdfToQueue, {false, false, 1, {}}},
    {"PDF to a queue, dye-sublimation backend", DocumentRoad::pdfToQueue, {false, true, 1, {}}},
    {"PDF to the printer, the printer",
     DocumentRoad::pdfToPrinter,
     {false, false, 999, kBothHandlings}},
    {"PDF to the printer without copies",
     DocumentRoad::pdfToPrinter,
     {false, false, 1, kBothHandlings}},
    {"PDF to the printer, collated only",
     DocumentRoad::pdfToPrinter,
     {false, false, 99, {kCollatedCopies}}},
    {"raster to a Gutenprint inkjet", DocumentRoad::rasterToDriver, {true, false, 1, {}}},
    {"raster to a dye-sublimation printer", DocumentRoad::rasterToDriver, {false, true, 1, {}}},
};

// How often each artwork page is printed: its sides in the document, times the copies the job
// asks of whoever makes them.
std::map<int, int> printsOf(const CopiesPlan& plan) {
  std::map<int, int> prints;
  for (int side : plan.pages) {
    if (side != kBlankSide) prints[side] += plan.jobCopies;
  }
  return prints;
}

TEST(Copies, EveryRowGivesExactlyTheCopiesAskedEachSetOnAFrontSideAndNoPageOnBothFaces) {
  for (const Row& row : kRows) {
    for (int copies : {1, 3}) {
      for (bool collated : {false, true}) {
        for (const char* sides : {kOneSided, kTwoSidedLongEdge, kTwoSidedShortEdge}) {
          for (size_t pages : {1, 3, 4}) {
            const CopiesAndSides saved{copies, collated, sides};
            const CopiesPlan plan = planCopies(saved, row.road, row.facts, pages);
            SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(copies) + " copies" +
                         (collated ? " collated, " : ", ") + sides + ", " + std::to_string(pages) +
                         " pages");
            const std::map<int, int> prints = printsOf(plan);
            ASSERT_EQ(prints.size(), pages);
            for (const auto& [page, count] : prints) EXPECT_EQ(count, copies) << "page " << page;
            EXPECT_EQ(plan.sides, sides);
            // Whoever makes the copies, the document says the job once: either one set and
            // every copy asked of the print system, or every copy and one asked.
            EXPECT_TRUE(plan.jobCopies == 1 || plan.pages.size() == pages);
            EXPECT_EQ(plan.copiesInDocument * static_cast<int>(pages) <=
                          static_cast<int>(plan.pages.size()),
                      true);
            if (std::string(sides) == kOneSided) {
              EXPECT_EQ(std::count(plan.pages.begin(), plan.pages.end(), kBlankSide), 0);
              continue;
            }
            // Two-sided: a sheet is two sides in a row; no page is on both faces of one, and
            // every set a document holds starts on a front side.
            for (size_t side = 0; side + 1 < plan.pages.size(); side += 2) {
              EXPECT_FALSE(plan.pages[side] == plan.pages[side + 1]) << "sheet " << side / 2;
            }
            if (plan.maker == CopyMaker::document && copies > 1) {
              for (size_t side = 0; side < plan.pages.size(); ++side) {
                if (plan.pages[side] == 0) {
                  EXPECT_EQ(side % 2, 0u) << "a set starts at " << side;
                }
              }
            }
          }
        }
      }
    }
  }
}

TEST(Copies, WhoMakesThemIsDecidedByWhatTheQueueAndThePrinterSay) {
  auto maker = [](const Row& row, int copies, bool collated, size_t pages) {
    return planCopies({copies, collated, kOneSided}, row.road, row.facts, pages).maker;
  };
  EXPECT_EQ(maker(kRows[0], 3, true, 3), CopyMaker::filters);
  EXPECT_EQ(maker(kRows[1], 3, true, 3), CopyMaker::printer);
  // A backend that repeats pages makes uncollated copies and copies of one page, never sets.
  EXPECT_EQ(maker(kRows[2], 3, false, 3), CopyMaker::backend);
  EXPECT_EQ(maker(kRows[2], 3, true, 1), CopyMaker::backend);
  EXPECT_EQ(maker(kRows[2], 3, true, 3), CopyMaker::document);
  EXPECT_EQ(maker(kRows[7], 3, true, 3), CopyMaker::document);
  EXPECT_EQ(maker(kRows[7], 3, false, 3), CopyMaker::backend);
  // Asked of such a backend, copies are uncollated: collated, pdftopdf would make the sets first.
  EXPECT_FALSE(planCopies({3, true, kOneSided}, kRows[2].road, kRows[2].facts, 1).collated);
  // A printer that takes the job's copies and the collation asked makes them.
  EXPECT_EQ(maker(kRows[3], 3, false, 3), CopyMaker::printer);
  EXPECT_EQ(maker(kRows[3], 3, true, 3), CopyMaker::printer);
  EXPECT_EQ(maker(kRows[4], 3, true, 3), CopyMaker::document);
  EXPECT_EQ(maker(kRows[5], 3, true, 3), CopyMaker::printer);
  EXPECT_EQ(maker(kRows[5], 3, false, 3), CopyMaker::document);
  EXPECT_EQ(maker(kRows[5], 100, true, 3), CopyMaker::document);
  EXPECT_EQ(maker(kRows[6], 3, false, 3), CopyMaker::document);
}

TEST(Copies, TheDocumentsSidesAreInTheOrderTheUserSaved) {
  const Row& inkjet = kRows[6];
  auto sides = [&](int copies, bool collated, const char* sides, size_t pages) {
    return planCopies({copies, collated, sides}, inkjet.road, inkjet.facts, pages).pages;
  };
  const int B = kBlankSide;
  EXPECT_EQ(sides(2, true, kOneSided, 3), (std::vector{0, 1, 2, 0, 1, 2}));
  EXPECT_EQ(sides(2, false, kOneSided, 3), (std::vector{0, 0, 1, 1, 2, 2}));
  // Two-sided: each set starts on a front side, and uncollated copies are made collated (as
  // pdftopdf makes them): page 1's copies would otherwise face each other.
  EXPECT_EQ(sides(2, true, kTwoSidedLongEdge, 3), (std::vector{0, 1, 2, B, 0, 1, 2}));
  EXPECT_EQ(sides(2, false, kTwoSidedShortEdge, 3), (std::vector{0, 1, 2, B, 0, 1, 2}));
  EXPECT_EQ(sides(3, false, kTwoSidedLongEdge, 1), (std::vector{0, B, 0, B, 0}));
  EXPECT_EQ(sides(2, false, kTwoSidedLongEdge, 2), (std::vector{0, 1, 0, 1}));
  EXPECT_TRUE(planCopies({2, false, kTwoSidedLongEdge}, inkjet.road, inkjet.facts, 2).collated);

  // One set, the copies asked of pdftopdf, which collates two-sided copies itself.
  const CopiesPlan filters =
      planCopies({2, false, kTwoSidedLongEdge}, kRows[0].road, kRows[0].facts, 3);
  EXPECT_EQ(filters.pages, (std::vector{0, 1, 2}));
  EXPECT_EQ(filters.jobCopies, 2);
  EXPECT_TRUE(filters.collated);
  // A printer repeats whole sheets of uncollated two-sided copies: it is asked as saved.
  const CopiesPlan printer =
      planCopies({2, false, kTwoSidedLongEdge}, kRows[3].road, kRows[3].facts, 3);
  EXPECT_EQ(printer.pages, (std::vector{0, 1, 2}));
  EXPECT_FALSE(printer.collated);
}

TEST(Copies, TheQueuesPpdSaysWhoCanMakeThem) {
  testing::TempDir dir;
  const QueuePpd p800 = testing::gutenprintPpd(dir, "escp2-p800");
  const QueuePpd ds40 = testing::gutenprintPpd(dir, "dnp-ds40");
  const QueuePpd selphy = testing::gutenprintPpd(dir, "canon-cp1300");
  EXPECT_TRUE(p800.filtersMakeCopies());
  EXPECT_FALSE(p800.backendRepeatsPages());
  for (const QueuePpd* dyeSub : {&ds40, &selphy}) {
    EXPECT_FALSE(dyeSub->filtersMakeCopies());
    EXPECT_TRUE(dyeSub->backendRepeatsPages());
  }
  // Without the line (the PPD CUPS makes for a driverless printer that takes PDF, most vendor
  // PostScript PPDs) pdftopdf hands the copies on to the printer: no backend repeats pages.
  const std::string base = testing::driverPpd(testing::kShrinkAndCrop, "");
  const QueuePpd silent = testing::openPpd(dir, base);
  EXPECT_FALSE(silent.filtersMakeCopies());
  EXPECT_FALSE(silent.backendRepeatsPages());
  // A written False outside Gutenprint says nothing of a backend.
  const QueuePpd vendor = testing::openPpd(dir, base + "*cupsManualCopies: False\n");
  EXPECT_FALSE(vendor.backendRepeatsPages());
}

TEST(Copies, CopiesCollationAndSidesAreSaidOnceInEveryReadersWords) {
  testing::TempDir dir;
  const QueuePpd duplexing = testing::gutenprintPpd(dir, "bjc-PIXMA-iP4500");
  const QueuePpd simplex = testing::gutenprintPpd(dir, "escp2-p800");
  auto words = [](const CopiesPlan& plan, const QueuePpd* ppd) {
    std::map<std::string, std::string> byName;
    for (const PrintOption& option : copiesAndSidesOptions(plan, ppd)) {
      EXPECT_TRUE(byName.emplace(option.name, option.value).second) << "twice: " << option.name;
    }
    return byName;
  };
  // The PPD's own Duplex choice is what the dialog saved; sides says the same, and a saved sides
  // that contradicts it does not reach the job.
  PrintSettings settings("ip4500");
  ASSERT_TRUE(settings.setOption("Duplex", "DuplexTumble"));
  ASSERT_TRUE(settings.setOption("sides", "one-sided"));
  ASSERT_TRUE(settings.setOption(PrintSettings::kCopies, "3"));
  ASSERT_TRUE(settings.setOption("Collate", "True"));
  const CopiesAndSides saved = savedCopiesAndSides(settings, &duplexing);
  EXPECT_EQ(saved.copies, 3);
  EXPECT_TRUE(saved.collated);
  EXPECT_EQ(saved.sides, kTwoSidedShortEdge);
  auto options = words(planCopies(saved, DocumentRoad::pdfToQueue, kRows[0].facts, 3), &duplexing);
  EXPECT_EQ(options["Duplex"], "DuplexTumble");
  EXPECT_EQ(options["sides"], "two-sided-short-edge");
  EXPECT_EQ(options["copies"], "3");
  EXPECT_EQ(options["Collate"], "True");
  EXPECT_EQ(options["multiple-document-handling"], kCollatedCopies);
  // The document makes them: the job asks for one and says nothing of collation.
  options = words(planCopies(saved, DocumentRoad::rasterToDriver, kRows[6].facts, 3), &duplexing);
  EXPECT_EQ(options["copies"], "1");
  EXPECT_EQ(options.count("Collate"), 0u);
  EXPECT_EQ(options.count("multiple-document-handling"), 0u);
  EXPECT_EQ(options["Duplex"], "DuplexTumble");

  // Without a Duplex option the saved sides counts, but not on a Gutenprint PPD, whose drivers
  // call two-sided printing Duplex wherever they have it; an unknown word is one-sided.
  ASSERT_TRUE(settings.setOption("sides", "two-sided-long-edge"));
  EXPECT_EQ(savedCopiesAndSides(settings, nullptr).sides, kTwoSidedLongEdge);
  EXPECT_EQ(savedCopiesAndSides(settings, &simplex).sides, kOneSided);
  EXPECT_EQ(words(planCopies(savedCopiesAndSides(settings, nullptr), DocumentRoad::pdfToQueue,
                             kRows[1].facts, 1),
                  nullptr)
                .count("Duplex"),
            0u);
  ASSERT_TRUE(settings.setOption("sides", "both"));
  EXPECT_EQ(savedCopiesAndSides(settings, nullptr).sides, kOneSided);

  // One copy: nothing to collate; the device route keeps IPP's words only.
  PrintSettings single("ip4500");
  options = words(planCopies(savedCopiesAndSides(single, &duplexing), DocumentRoad::pdfToQueue,
                             kRows[0].facts, 1),
                  &duplexing);
  EXPECT_EQ(options["Duplex"], "None");
  EXPECT_EQ(options["sides"], "one-sided");
  EXPECT_EQ(options.count("Collate"), 0u);
  EXPECT_EQ(options.count("multiple-document-handling"), 0u);
  std::map<std::string, std::string> device;
  for (const PrintOption& option : deviceJobOptions(
           copiesAndSidesOptions(
               planCopies(saved, DocumentRoad::pdfToPrinter, {false, false, 99, kBothHandlings}, 3),
               &duplexing),
           {})) {
    device[option.name] = option.value;
  }
  EXPECT_EQ(device.count("Duplex"), 0u);
  EXPECT_EQ(device.count("Collate"), 0u);
  EXPECT_EQ(device["copies"], "3");
  EXPECT_EQ(device["sides"], "two-sided-short-edge");
  EXPECT_EQ(device["multiple-document-handling"], kCollatedCopies);

  // What the dialog's Collate box becomes.
  PrintSettings boxed("q");
  ASSERT_TRUE(boxed.setOption("multiple-document-handling", kCollatedCopies));
  ASSERT_TRUE(saveCollation(boxed, false));
  EXPECT_FALSE(savedCollation(boxed));
  EXPECT_EQ(boxed.option("multiple-document-handling"), std::nullopt);
  EXPECT_EQ(boxed.option("Collate"), "False");
}

}  // namespace
}  // namespace vardelle::printing
