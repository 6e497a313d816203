#include "printing/job/print_view.h"

#include <gtest/gtest.h>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "printing/job/job_plan.h"
#include "testing/icc_fixtures.h"
#include "testing/pdf_maker.h"
#include "testing/png_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

const artwork::PaperGeometry kA4{595, 842, 10, 10, 575, 822};
constexpr const char* kTooBig =
    "The artwork exceeds the paper. Choose a smaller scale or larger paper.";

testing::FixturePage filledPage(double width, double height) {
  testing::FixturePage page;
  page.mediaBox = {0, 0, width, height};
  page.content = testing::fillRect(0, 0, width, height, 1, 0, 0);
  return page;
}

// Three pages; page 2 is wider than A4, so it cannot be placed at 100 %.
artwork::Artwork threePagesMiddleTooBig(const testing::TempDir& dir) {
  const std::string path = dir.write(
      "three.pdf",
      testing::makeFixturePdf({filledPage(200, 100), filledPage(700, 100), filledPage(100, 300)}));
  return artwork::Artwork::load(path, std::nullopt);
}

// The written document's pages: their media boxes and content streams. `bytes` must outlive
// `pdf`.
struct WrittenPage {
  std::vector<double> mediaBox;
  std::string content;
  QPDFObjectHandle resources;
};
std::vector<WrittenPage> pagesOf(QPDF& pdf, const std::string& bytes) {
  pdf.processMemoryFile("print", bytes.data(), bytes.size());
  std::vector<WrittenPage> pages;
  for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    WrittenPage written;
    for (auto& v : page.getObjectHandle().getKey("/MediaBox").getArrayAsVector()) {
      written.mediaBox.push_back(v.getNumericValue());
    }
    auto data = page.getObjectHandle().getKey("/Contents").getStreamData();
    written.content.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    written.resources = page.getObjectHandle().getKey("/Resources");
    pages.push_back(std::move(written));
  }
  return pages;
}

TEST(ArtworkPrintView, DrawsOnlyThePagesWhoseBandsTheRectangleMeets) {
  testing::TempDir dir;
  artwork::SheetDocument sheet;
  sheet.beginSheet(kA4.size());
  ArtworkPrintView view(threePagesMiddleTooBig(dir), kA4, 100, "t", 0, 0);
  // Band 1 exactly: its top edge touches band 2, which must not count as meeting it.
  view.drawRect(view.rectForPage(1), sheet);
  view.drawRect(view.rectForPage(3), sheet);
  EXPECT_FALSE(view.renderingError()) << "page 2 was drawn for a neighbouring band";
  view.drawRect({100, 842 + 400, 10, 10}, sheet);
  ASSERT_TRUE(view.renderingError());
  EXPECT_STREQ(view.renderingError()->message(), kTooBig);
}

TEST(ArtworkPrintView, AFailedPageStaysBlankAndTheOthersStillPrint) {
  testing::TempDir dir;
  ArtworkPrintView view(threePagesMiddleTooBig(dir), kA4, 100, "Job", 0, 0);
  const std::string bytes = view.printDocument(false);
  ASSERT_TRUE(view.renderingError());
  EXPECT_STREQ(view.renderingError()->message(), kTooBig);

  QPDF pdf;
  auto pages = pagesOf(pdf, bytes);
  ASSERT_EQ(pages.size(), 3u);
  for (const auto& page : pages) {
    EXPECT_EQ(page.mediaBox, (std::vector<double>{0, 0, 595, 842}));
  }
  EXPECT_NE(pages[0].content.find(" Do"), std::string::npos);
  EXPECT_EQ(pages[1].content, "");
  EXPECT_NE(pages[2].content.find(" Do"), std::string::npos);
  EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(), "Job");
}

TEST(ArtworkPrintView, DeviceValueImagesLeaveTheirProfileOff) {
  testing::TempDir dir;
  testing::PngOptions spec;
  spec.pixelsPerMeterX = spec.pixelsPerMeterY = testing::pixelsPerMeter(72);
  const std::string profile = testing::makeMatrixShaperRgbProfile("Printer Space", "prtr");
  spec.iccProfile.assign(profile.begin(), profile.end());
  const std::string path = dir.write("tagged.png", testing::makePng(spec));
  for (bool deviceValues : {false, true}) {
    SCOPED_TRACE(deviceValues);
    ArtworkPrintView view(artwork::Artwork::load(path, std::nullopt), kA4, 100, "t", 0, 0);
    // qpdf reads from the bytes as long as the document is open.
    const std::string bytes = view.printDocument(deviceValues);
    QPDF pdf;
    auto pages = pagesOf(pdf, bytes);
    ASSERT_EQ(pages.size(), 1u);
    auto images = pages[0].resources.getKey("/XObject");
    ASSERT_EQ(images.getKeys().size(), 1u);
    auto space = images.getKey(*images.getKeys().begin()).getDict().getKey("/ColorSpace");
    if (deviceValues) {
      EXPECT_TRUE(space.isName() && space.getName() == "/DeviceRGB") << space.unparse();
    } else {
      EXPECT_TRUE(space.isArray() && space.getArrayItem(0).getName() == "/ICCBased")
          << space.unparse();
    }
  }
}

TEST(PrintPagination, LeavesNoOptionThatScalesCentresOrPaginates) {
  PrintSettings settings("q");
  for (auto [name, value] : {std::pair{"scaling", "50"},
                             {"fitplot", "true"},
                             {"position", "center"},
                             {"page-ranges", "2-3"},
                             {"number-up", "4"},
                             {"page-left", "36"},
                             {"print-scaling", "fit"},
                             {"media", "iso_a4_210x297mm"}}) {
    ASSERT_TRUE(settings.setOption(name, value));
  }
  configurePrintPagination(settings, 3);
  for (const char* gone : {"scaling", "fitplot", "position", "page-ranges", "page-left"}) {
    EXPECT_FALSE(settings.option(gone)) << gone;
  }
  EXPECT_EQ(settings.option("number-up"), "1");
  EXPECT_EQ(settings.option("print-scaling"), "none");
  EXPECT_EQ(settings.option("media"), "iso_a4_210x297mm");
}

}  // namespace
}  // namespace vardelle::printing
