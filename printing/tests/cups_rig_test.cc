#include "testing/cups_rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::testing {
namespace {

// A one-page PDF with a correct cross-reference table, written by hand.
std::string onePagePdf() {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  std::string content = "0 0 1 rg 72 72 144 144 re f";
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream");
  size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[21];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

bool alive(const std::string& pid) {
  std::string stat = readFile("/proc/" + pid + "/stat");
  auto close = stat.rfind(')');
  return !stat.empty() && close != std::string::npos && close + 2 < stat.size() &&
         stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

TEST(CupsRig, KeepsEachJobWithItsAttributesAndStopsWhatItStarted) {
  TempDir files;
  std::string pdf = files.write("page.pdf", onePagePdf());
  std::vector<std::string> pids;
  {
    CupsRig rig;
    std::string folder = rig.environment().at("VARDELLE_TEST_PRINTER_DIR");
    for (const char* name : {"dbus", "printer", "cupsd"}) {
      pids.push_back(readFile(folder + "/run/" + name + ".pid"));
      while (!pids.back().empty() && pids.back().back() == '\n') pids.back().pop_back();
      ASSERT_TRUE(alive(pids.back())) << name;
    }
    EXPECT_EQ(std::getenv("CUPS_SERVER"), rig.server());

    ProcessOutput submitted =
        runProcess({"/usr/bin/lp", "-d", rig.queue(), "-o", "media=na_letter_8.5x11in", "-o",
                    "print-scaling=none", pdf},
                   rig.environment());
    ASSERT_EQ(submitted.exitStatus, 0) << submitted.err;
    auto jobs = rig.waitForJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    // CUPS' ipp backend passes the paper as a media-col, with the queue's margins.
    EXPECT_NE(jobs[0].attributes["IPP_MEDIA_COL"].find("x-dimension=21590 y-dimension=27940"),
              std::string::npos)
        << jobs[0].attributes["IPP_MEDIA_COL"];
    EXPECT_EQ(jobs[0].attributes["IPP_DOCUMENT_FORMAT_SUPPLIED"], "application/pdf");
    EXPECT_FALSE(readFile(jobs[0].file).empty());
  }
  for (const auto& pid : pids) EXPECT_FALSE(alive(pid)) << pid;
}

}  // namespace
}  // namespace vardelle::testing
