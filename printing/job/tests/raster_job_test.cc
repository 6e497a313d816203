#include "printing/job/raster_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/print_failure.h"
#include "printing/job/copies.h"
#include "testing/converted_page.h"
#include "testing/ppd_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

// Reads a raster document back with libcups, each page's rows as 16-bit samples.
struct ReadPage {
  cups_page_header2_t header;
  std::vector<std::uint16_t> samples;
};

ssize_t readFrom(void* context, unsigned char* into, size_t length) {
  auto* text = static_cast<std::string_view*>(context);
  const size_t n = std::min(length, text->size());
  std::memcpy(into, text->data(), n);
  text->remove_prefix(n);
  return static_cast<ssize_t>(n);
}

std::vector<ReadPage> readBack(std::string_view document) {
  std::vector<ReadPage> pages;
  cups_raster_t* raster = cupsRasterOpenIO(readFrom, &document, CUPS_RASTER_READ);
  if (!raster) return pages;
  ReadPage page;
  while (cupsRasterReadHeader2(raster, &page.header)) {
    page.samples.resize(std::size_t(page.header.cupsBytesPerLine / 2) * page.header.cupsHeight);
    if (cupsRasterReadPixels(raster, reinterpret_cast<unsigned char*>(page.samples.data()),
                             unsigned(page.samples.size() * 2)) != page.samples.size() * 2) {
      break;
    }
    pages.push_back(page);
  }
  cupsRasterClose(raster);
  return pages;
}

// The sheet drawDeviceSheet makes, as whole rows.
std::vector<std::uint16_t> drawn(const artwork::ArtworkPage& page,
                                 const artwork::PaperGeometry& paper,
                                 const artwork::DeviceGrid& grid) {
  std::vector<std::uint16_t> samples;
  artwork::drawDeviceSheet(page, paper, 100, 0, 0, grid,
                           [&](std::uint32_t, std::uint32_t count, const std::uint16_t* row) {
                             for (std::uint32_t r = 0; r < count; ++r) {
                               samples.insert(samples.end(), row, row + grid.width * 3);
                             }
                           });
  return samples;
}

TEST(RasterDocument, EveryRowReadsBackAsDrawnAndEachSideOfThePlanFollows) {
  // Two pages as wide as the grid at its own resolution, of flat stretches longer than a run can
  // say, stripes and noise up to the last pixel, so that rows pack into every kind of run; rows
  // repeated past what one record can say above and below them.
  auto pattern = [](std::uint32_t seed) {
    return [seed](std::uint32_t x, std::uint32_t y) {
      const std::uint32_t h = (x * 2654435761u) ^ (y * 40503u) ^ seed;
      if (x < 200) return std::array<std::uint16_t, 3>{60000, 200, std::uint16_t(seed)};
      if (x % 3 == 0) return std::array<std::uint16_t, 3>{1, 2, 3};
      return std::array<std::uint16_t, 3>{std::uint16_t(h), std::uint16_t(h >> 7),
                                          std::uint16_t(y)};
    };
  };
  artwork::Artwork art;
  art.pages.push_back(testing::convertedPage(testing::rgb16Pixels(1200, 20, pattern(1)), 300));
  art.pages.push_back(testing::convertedPage(testing::rgb16Pixels(1200, 20, pattern(2)), 300));
  const artwork::PaperGeometry paper{288, 216, 0, 0, 288, 216};

  RasterJob job;
  cups_page_header2_t& h = job.header;
  h.cupsWidth = 1200, h.cupsHeight = 2400;
  h.HWResolution[0] = 300, h.HWResolution[1] = 800;
  h.cupsBitsPerColor = 16, h.cupsBitsPerPixel = 48, h.cupsBytesPerLine = 1200 * 6;
  h.cupsColorSpace = CUPS_CSPACE_RGB, h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsNumColors = 3;
  job.grid = {1200, 2400, 300, 800, {0, 0, 288, 216}, {288, 216}, 0};
  const std::vector<std::uint16_t> first = drawn(art.pages[0], paper, job.grid);
  const std::vector<std::uint16_t> second = drawn(art.pages[1], paper, job.grid);
  ASSERT_NE(first, second);

  // The sides of a copies plan, in order: each page written once however often it is sent, a
  // blank page where the plan has a blank side, and every page once without a plan.
  const std::vector<std::uint16_t> white(first.size(), 0xFFFF);
  struct Case {
    std::vector<int> sides;
    std::vector<const std::vector<std::uint16_t>*> sent;
  };
  for (const Case& c :
       {Case{{}, {&first, &second}}, Case{{0, 1, 0, 1}, {&first, &second, &first, &second}},
        Case{{0, 0, 1, 1}, {&first, &first, &second, &second}},
        Case{{0, kBlankSide, 0, kBlankSide, 0}, {&first, &white, &first, &white, &first}}}) {
    SCOPED_TRACE(c.sides.size());
    std::string written;
    const std::vector<FileSpan> spans =
        writeRasterDocument(job, art, paper, 100, 0, 0, c.sides,
                            [&](std::string_view bytes) { written.append(bytes); });
    std::string sent;
    for (const FileSpan& span : spans) sent += written.substr(span.offset, span.length);
    if (c.sent.size() > 2) {
      EXPECT_LT(written.size(), sent.size());
    }
    const std::vector<ReadPage> pages = readBack(sent);
    ASSERT_EQ(pages.size(), c.sent.size());
    for (size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(pages[i].header.cupsBitsPerColor, 16u);
      EXPECT_EQ(pages[i].header.cupsWidth, 1200u);
      EXPECT_TRUE(pages[i].samples == *c.sent[i]) << "sheet " << i;
    }
  }
}

TEST(RasterDocument, TheRasterIsTheMeasuredSheetTurnedAsTheFiltersTurnIt) {
  testing::TempDir dir;
  const QueuePpd p800 = testing::gutenprintPpd(dir, "escp2-p800");
  PrintSettings settings("p800");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
  const artwork::PaperGeometry a4{20990 * 72.0 / 2540, 29704 * 72.0 / 2540, 0, 0, 595, 842};
  // The raster is the measured sheet: a PageSize that is not the saved entry is the paper
  // having changed. A custom size is the PPD's custom form.
  EXPECT_THROW(planRasterJob(p800, settings, {{"PageSize", "Letter"}}, a4), PrintFailure);
  PrintSettings custom("p800");
  ASSERT_TRUE(custom.setOption(PrintSettings::kPageSize, "Custom.300.00x400.00"));
  const artwork::PaperGeometry customSheet{300, 400, 9, 9, 282, 382};
  const RasterJob customJob =
      planRasterJob(p800, custom, {{"PageSize", "Custom.300.00x400.00"}}, customSheet);
  EXPECT_EQ(customJob.grid.media.width, 300);
  EXPECT_EQ(customJob.grid.media.height, 400);
  EXPECT_EQ(customJob.header.cupsWidth, 3000u);
  // A landscape sheet lies turned on portrait media as the PPD's Plus90 turns it.
  settings.setOrientation(Orientation::landscape);
  const artwork::PaperGeometry turned{a4.height, a4.width, 0, 0, 842, 595};
  const RasterJob landscape = planRasterJob(p800, settings, {{"PageSize", "A4"}}, turned);
  EXPECT_EQ(landscape.grid.turn, 90);
  EXPECT_EQ(landscape.grid.media.width, 595);
}

}  // namespace
}  // namespace vardelle::printing
