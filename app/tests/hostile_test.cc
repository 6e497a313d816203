// Files built to exhaust a reader or a renderer, run through the built helper in every file mode:
// each run must end with one line and a status that agrees with it, within 10 s (30 s of
// processor time for a page that is drawn) and 512 MB, and leave nothing in $TMPDIR or the output
// folder. The files are made here (testing/hostile_pdf.h), never stored.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "base/artwork_format.h"
#include "base/drawing_deadline.h"
#include "base/sanitized.h"
#include "color/output_profile.h"
#include "testing/hostile_pdf.h"
#include "testing/icc_fixtures.h"
#include "testing/machine_shape.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::app {
namespace {

using testing::HostileRecipe;
using testing::HostileShape;
using testing::TempDir;

#ifdef VARDELLE_SANITIZED
// Shadow memory and instrumented code: the bounds stand, looser.
constexpr double kMostSeconds = 30;
constexpr long kMostMemoryKb = 1536 * 1024;
#else
constexpr double kMostSeconds = 10;
constexpr long kMostMemoryKb = 512 * 1024;
#endif
// A page may take kDrawingSeconds of processor time to draw: its line comes within 30 s of it,
// which on a machine busy with other work can be many times that on the clock.
constexpr double kMostDrawingSeconds = 30;

const std::vector<std::string> kFileModes = {"inspect", "preview", "thumbnail", "sheet-thumbnail"};

std::string hostileFile(const TempDir& dir, const HostileRecipe& recipe) {
  static int made = 0;
  return dir.write("hostile-" + std::to_string(++made) + ".pdf", testing::hostilePdf(recipe));
}

// Runs `mode` on `pdf` and checks what any file must give; returns the line, parsed (null when
// there was none). `whileRunning` gets the child's pid, as runProcess gives it; `more` adds to the
// request and `env` to the environment.
nlohmann::json boundedRun(const std::string& mode, const std::string& pdf,
                          const std::function<void(int)>& whileRunning = {},
                          const nlohmann::json& more = nlohmann::json::object(),
                          std::map<std::string, std::string> env = {},
                          std::optional<double> mostProcessorSeconds = std::nullopt,
                          double mostSeconds = kMostSeconds, long mostMemoryKb = kMostMemoryKb) {
  SCOPED_TRACE(mode + " " + pdf);
  TempDir work;
  const std::string tmp = work.file("tmp");
  std::filesystem::create_directory(tmp);
  const std::string output = work.file(mode == "preview" ? "out.pdf" : "out.png");
  nlohmann::json request = {
      {"printerName", "vardelle-demo"},
      {"snapshotPath", std::string(VARDELLE_SOURCE_DIR) + "/samples/preset-a4.json"},
      {"scalePercent", 50},
      {"filePath", pdf},
      {"outputPath", output}};
  request.update(more);
  env["TMPDIR"] = tmp;
  const auto run = testing::runProcess(
      {VARDELLE_BINARY, mode, work.write("request.json", request.dump())}, env, whileRunning);
  if (mostProcessorSeconds) {
    EXPECT_LT(run.processorSeconds, *mostProcessorSeconds);
  } else {
    EXPECT_LT(run.seconds, mostSeconds);
  }
  EXPECT_LT(run.peakMemoryKb, mostMemoryKb);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  const nlohmann::json line = nlohmann::json::parse(run.out, nullptr, false);
  if (line.is_discarded() || !line.contains("ok")) {
    ADD_FAILURE() << "no result line; exit status " << run.exitStatus << ": " << run.out;
    return nullptr;
  }
  const bool ok = line["ok"].get<bool>();
  EXPECT_EQ(run.exitStatus, ok ? 0 : 1);
  if (!ok) {
    EXPECT_FALSE(std::filesystem::exists(output));
  }
  return line;
}

void expectDamaged(const nlohmann::json& line) {
  ASSERT_TRUE(line.is_object());
  EXPECT_EQ(line.value("error", ""), kUnreadablePdfSentence);
}

TEST(Hostile, ObjectStreamLengthChainsAreRefusedAsDamagedInEveryMode) {
  TempDir dir;
  for (uint64_t links : {3000, 20000}) {
    for (bool hex : {false, true}) {
      HostileRecipe recipe;
      recipe.shape = HostileShape::lengthChain;
      recipe.count = links;
      // A filter the plain reader leaves to qpdf.
      recipe.wrapping = hex ? testing::HostileWrapping::asciiHex : testing::HostileWrapping::none;
      const std::string pdf = hostileFile(dir, recipe);
      for (const std::string& mode : kFileModes) expectDamaged(boundedRun(mode, pdf));
    }
  }
}

TEST(Hostile, EmptyArrayBombIsRefusedWhereverAModeReadsIt) {
  TempDir dir;
  HostileRecipe recipe;
  recipe.shape = HostileShape::emptyArrayBomb;
  recipe.count = 30000000;  // 59 KB of Flate, 60 MB of "[]"
  const std::string atMediaBox = hostileFile(dir, recipe);
  for (const char* mode : {"inspect", "preview", "thumbnail"}) {
    expectDamaged(boundedRun(mode, atMediaBox));
  }
  // Another filter over Flate: the check before qpdf decodes what qpdf would.
  for (auto wrapping : {testing::HostileWrapping::asciiHex, testing::HostileWrapping::ascii85,
                        testing::HostileWrapping::runLength, testing::HostileWrapping::lzw}) {
    recipe.wrapping = wrapping;
    expectDamaged(boundedRun("preview", hostileFile(dir, recipe)));
  }
  recipe.wrapping = testing::HostileWrapping::none;
  // Inspect never reads the resources, but what the other modes cannot read it cannot either.
  recipe.key = "Resources";
  const std::string inResources = hostileFile(dir, recipe);
  for (const std::string& mode : kFileModes) expectDamaged(boundedRun(mode, inResources));
}

TEST(Hostile, DeepNestingDeepTreesAndLongChainsEndInOneLine) {
  TempDir dir;
  HostileRecipe arrays;
  arrays.shape = HostileShape::deepNesting;
  arrays.count = 100000;
  HostileRecipe dictionaries = arrays;
  dictionaries.dictionaries = true;
  dictionaries.key = "Resources";
  HostileRecipe tree;
  tree.shape = HostileShape::deepPageTree;
  tree.count = 50000;
  HostileRecipe parents;
  parents.shape = HostileShape::longParentChain;
  parents.count = 50000;
  HostileRecipe list;  // a linked list of 100,000 objects that copying a page follows
  list.shape = HostileShape::manySmallObjects;
  list.count = 100000;
  list.key = "Resources";
  for (const HostileRecipe& recipe : {arrays, dictionaries, tree, parents, list}) {
    const std::string pdf = hostileFile(dir, recipe);
    for (const char* mode : {"inspect", "preview", "thumbnail"}) {
      const nlohmann::json line = boundedRun(mode, pdf);
      if (recipe.shape == HostileShape::deepPageTree) expectDamaged(line);
    }
  }
}

// A page tree written with a table but whose startxref points nowhere: the plain reader declines
// it, qpdf rebuilds the table and walks the tree itself, on the helper's larger stack.
TEST(Hostile, DeepTreeOnlyQpdfCanReadEndsInOneLine) {
  TempDir dir;
  HostileRecipe tree;
  tree.shape = HostileShape::deepPageTree;
  tree.count = 30000;
  tree.xrefStream = false;
  std::string pdf = testing::hostilePdf(tree);
  pdf.replace(pdf.rfind("startxref"), std::string::npos, "startxref\n999999\n%%EOF\n");
  const std::string path = dir.write("rebuilt.pdf", pdf);
  for (const char* mode : {"inspect", "preview", "thumbnail"}) boundedRun(mode, path);
}

// Object streams whose /Type is written /Typ#65 are left to qpdf unmeasured, as an encrypted
// file is: a chain and a linked list then rely on the helper's larger stack.
TEST(Hostile, ChainsOnlyQpdfReadsEndInOneLine) {
  TempDir dir;
  HostileRecipe chain;
  chain.shape = HostileShape::lengthChain;
  chain.count = 20000;
  chain.escapedNames = true;
  HostileRecipe list;
  list.shape = HostileShape::manySmallObjects;
  list.count = 100000;
  list.key = "Resources";
  list.escapedNames = true;
  for (const HostileRecipe& recipe : {chain, list}) {
    const std::string pdf = hostileFile(dir, recipe);
    for (const char* mode : {"inspect", "preview", "thumbnail"}) boundedRun(mode, pdf);
  }
}

// Application-managed colour into a printer profile made here, as a request's fields.
nlohmann::json applicationColour(const TempDir& dir) {
  const std::string profile = testing::makeLutRgbPrinterProfile("Matte", 9, true);
  return {{"colorManagement",
           {{"mode", "application"},
            {"profileId", color::profileId(profile)},
            {"profilePath", dir.write("printer.icc", profile)},
            {"renderingIntent", "perceptual"},
            {"blackPointCompensation", true},
            {"driverColorManagementDisabled", true}}}};
}

// Valid pages that are only too much work: every mode that draws them (poppler for the thumbnail,
// Ghostscript for application colour) ends with the sentence that says so, never the damaged
// one; the modes that only measure or copy the page succeed. Drawn here under a deadline of 2 s
// of processor time; the helper's own is measured by bench/hostile.sh.
TEST(Hostile, PagesThatAreTooMuchWorkSayTheyTakeTooLongToDraw) {
  TempDir dir;
  const nlohmann::json managed = applicationColour(dir);
  const auto shortDeadline = testing::machineShape(2, 2);
  const auto drawn = [&](const std::string& mode, const std::string& pdf,
                         const nlohmann::json& more, bool ownDeadline) {
    return boundedRun(mode, pdf, {}, more,
                      ownDeadline ? std::map<std::string, std::string>{} : shortDeadline,
                      kMostDrawingSeconds);
  };
  struct Kind {
    HostileShape shape;
    uint64_t count;
  };
  for (const Kind& kind :
       {Kind{HostileShape::contentBomb, 100'000'000}, Kind{HostileShape::formTree, 40},
        Kind{HostileShape::hugeImage, 200'000}, Kind{HostileShape::hugeFunction, uint64_t(1) << 31},
        Kind{HostileShape::deepOperands, 300'000}}) {
    HostileRecipe recipe;
    recipe.shape = kind.shape;
    recipe.count = kind.count;
    const std::string pdf = hostileFile(dir, recipe);
    SCOPED_TRACE(testing::kHostileShapeNames[int(kind.shape)]);
    EXPECT_TRUE(boundedRun("inspect", pdf).value("ok", false));
    EXPECT_TRUE(boundedRun("preview", pdf).value("ok", false));
    for (const auto& [mode, more] :
         {std::pair{"thumbnail", nlohmann::json::object()}, std::pair{"thumbnail", managed},
          std::pair{"preview", managed}, std::pair{"sheet-thumbnail", nlohmann::json::object()}}) {
      SCOPED_TRACE(std::string(mode) + " " + more.dump());
      // Poppler gives up on an operand nested past its limit and draws the rest of the page, in
      // a second here (more under sanitizers, which slow its allocations): under the helper's
      // own deadline. Ghostscript works through all of it.
      const bool drawnByPoppler = kind.shape == HostileShape::deepOperands && more.empty();
      const nlohmann::json line = drawn(mode, pdf, more, drawnByPoppler);
      ASSERT_TRUE(line.is_object());
      if (drawnByPoppler) {
        EXPECT_TRUE(line.value("ok", false)) << line.dump();
      } else {
        EXPECT_EQ(line.value("error", ""), kTooLongToDrawSentence);
      }
    }
  }
}

// The thumbnail pictures the first sheet, and with application colour converts only that page:
// a second page that is too much work leaves it alone, while the preview, which draws every page,
// says the artwork takes too long to draw.
TEST(Hostile, TheThumbnailConvertsOnlyTheFirstPage) {
  TempDir dir;
  HostileRecipe recipe;
  recipe.shape = HostileShape::formTree;
  recipe.count = 40;
  const std::string two = dir.file("two.pdf");
  const auto merged =
      testing::runProcess({"/usr/bin/qpdf", "--empty", "--pages",
                           std::string(VARDELLE_SOURCE_DIR) + "/samples/artwork.pdf",
                           hostileFile(dir, recipe), "--", two});
  ASSERT_EQ(merged.exitStatus, 0) << merged.err;
  const nlohmann::json managed = applicationColour(dir);
  const auto shortDeadline = testing::machineShape(2, 2);
  const nlohmann::json thumbnail =
      boundedRun("thumbnail", two, {}, managed, shortDeadline, kMostDrawingSeconds);
  ASSERT_TRUE(thumbnail.value("ok", false)) << thumbnail.dump();
  EXPECT_EQ(thumbnail["document"].value("pageCount", 0), 2);
  const nlohmann::json preview =
      boundedRun("preview", two, {}, managed, shortDeadline, kMostDrawingSeconds);
  EXPECT_EQ(preview.value("error", ""), kTooLongToDrawSentence);
}

// The helper's own deadline, end to end: a page of a gigabyte of drawing gets its line within
// the bounds every run keeps.
TEST(Hostile, TheDrawingDeadlineEndsAnEndlessPageWithinTheRunsBounds) {
  TempDir dir;
  HostileRecipe recipe;
  recipe.shape = HostileShape::contentBomb;
  recipe.count = 100'000'000;
  const nlohmann::json line = boundedRun("thumbnail", hostileFile(dir, recipe), {},
                                         nlohmann::json::object(), {}, kMostDrawingSeconds);
  ASSERT_TRUE(line.is_object());
  EXPECT_EQ(line.value("error", ""), kTooLongToDrawSentence);
}

// The processor-time limit (SIGXCPU from the kernel, here sent by hand while poppler draws) says
// the page takes too long, as the drawing deadline does, not that the file is damaged.
TEST(Hostile, TheProcessorTimeLimitSaysThePageTakesTooLong) {
  TempDir dir;
  HostileRecipe recipe;
  recipe.shape = HostileShape::contentBomb;
  recipe.count = 100'000'000;
  const nlohmann::json line = boundedRun("thumbnail", hostileFile(dir, recipe), [](int pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid, SIGXCPU);
  });
  ASSERT_TRUE(line.is_object());
  EXPECT_EQ(line.value("error", ""), kTooLongToDrawSentence);
}

#ifndef VARDELLE_SANITIZED
// Only the process's memory limit stops qpdf from building 30 million arrays from a file left to
// it; sanitizers lift that limit.
TEST(Hostile, BombOnlyQpdfReadsEndsInOneLineWithinTheMemoryLimit) {
  TempDir dir;
  HostileRecipe recipe;
  recipe.shape = HostileShape::emptyArrayBomb;
  recipe.count = 30000000;
  recipe.escapedNames = true;
  const std::string pdf = hostileFile(dir, recipe);
  for (const char* mode : {"inspect", "preview"}) {
    EXPECT_FALSE(boundedRun(mode, pdf).value("ok", true));
  }
}

// The other side of the budgets: LaTeX's own source documentation (texlive-latex-base-doc), whose
// 1,221 pages reach 1.5 million values, most of them in object streams, in 5.8 MB: more than one
// for each 8 bytes of the file, which the check once refused as damaged in every mode that copies
// pages. Copying a thousand pages takes qpdf longer than a hostile file may take.
TEST(Hostile, DenseRealManualIsReadInEveryMode) {
  const std::string manual = "/usr/share/doc/texlive-doc/latex/base/source2e.pdf";
  ASSERT_TRUE(std::filesystem::exists(manual))
      << manual << " comes with the Debian package texlive-latex-base-doc (scripts/setup --tests)";
  for (const char* mode : {"inspect", "preview", "thumbnail"}) {
    const nlohmann::json line =
        boundedRun(mode, manual, {}, nlohmann::json::object(), {}, std::nullopt, 120);
    ASSERT_TRUE(line.is_object());
    EXPECT_TRUE(line.value("ok", false)) << line.dump();
    EXPECT_EQ(line["document"].value("pageCount", 0), 1221) << mode;
  }
}

// Denser still: LaTeX3's source documentation (texlive-latex-base-doc), 1,611 pages reaching 2.2
// million values in 7.3 MB, whose copy needs more than the 512 MB every run gets; the count before
// qpdf asks for it (about 1.2 GB), and the pages are drawn as inspect measures them.
TEST(Hostile, RealManualNeedingMoreMemoryThanEveryRunGetsIsDrawn) {
  const std::string manual = "/usr/share/doc/texlive-doc/latex/l3kernel/source3.pdf";
  ASSERT_TRUE(std::filesystem::exists(manual))
      << manual << " comes with the Debian package texlive-latex-base-doc (scripts/setup --tests)";
  for (const char* mode : {"preview", "thumbnail"}) {
    const nlohmann::json line =
        boundedRun(mode, manual, {}, nlohmann::json::object(), {}, std::nullopt, 120, 1280 * 1024);
    ASSERT_TRUE(line.is_object());
    EXPECT_TRUE(line.value("ok", false)) << line.dump();
    EXPECT_EQ(line["document"].value("pageCount", 0), 1611) << mode;
  }
}

// The last resort, whatever raised the signal: the line names the file the libraries were
// reading. (Sanitizers keep these signals for their own reports.)
TEST(Hostile, ACrashWhileALibraryReadsTheFileEndsWithTheLine) {
  TempDir dir;
  HostileRecipe recipe;  // keeps qpdf busy for seconds
  recipe.shape = HostileShape::emptyArrayBomb;
  recipe.count = 30000000;
  recipe.escapedNames = true;
  const std::string pdf = hostileFile(dir, recipe);
  for (int signal : {SIGSEGV, SIGBUS, SIGABRT}) {
    SCOPED_TRACE(signal);
    expectDamaged(boundedRun("preview", pdf, [signal](int pid) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::kill(pid, signal);
    }));
  }
}
#endif

}  // namespace
}  // namespace vardelle::app
