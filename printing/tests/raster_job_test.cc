#include "printing/raster_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/print_failure.h"
#include "printing/print_color_entries.h"
#include "printing/raster_page_header.h"
#include "testing/converted_page.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

// The PPD Gutenprint makes for a model, as lpadmin installs it.
QueuePpd gutenprintPpd(testing::TempDir& dir, const std::string& model) {
  const testing::ProcessOutput made = testing::runProcess(
      {"/usr/lib/cups/driver/gutenprint.5.3", "cat", "gutenprint.5.3://" + model + "/expert"});
  if (made.exitStatus != 0) throw std::runtime_error("Gutenprint made no PPD for " + model);
  auto ppd = QueuePpd::fromFile(dir.write(model + ".ppd", made.out));
  if (!ppd) throw std::runtime_error("the Gutenprint PPD did not parse");
  return std::move(*ppd);
}

std::string refusal(const QueuePpd& ppd, const std::vector<PrintOption>& options) {
  try {
    sixteenBitPageHeader(ppd, options);
  } catch (const PrintFailure& failure) {
    return failure.what();
  }
  return "";
}

TEST(RasterPageHeader, IsTheDriversOwnHeaderForTheOptionsWithSixteenBits) {
  testing::TempDir dir;
  const QueuePpd p800 = gutenprintPpd(dir, "escp2-p800");
  EXPECT_TRUE(takesCupsRaster(p800));

  // The defaults: Standard quality at 720 × 360 dpi over the whole A4 sheet of 595 × 842 pt.
  cups_page_header2_t h = sixteenBitPageHeader(p800, {{"PageSize", "A4"}});
  EXPECT_EQ(h.HWResolution[0], 720u);
  EXPECT_EQ(h.HWResolution[1], 360u);
  EXPECT_EQ(h.cupsWidth, 5950u);
  EXPECT_EQ(h.cupsHeight, 4210u);
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
  EXPECT_EQ(h.cupsBitsPerColor, 16u);
  EXPECT_EQ(h.cupsBitsPerPixel, 48u);
  EXPECT_EQ(h.cupsBytesPerLine, 5950u * 6);
  EXPECT_STREQ(h.cupsPageSizeName, "A4");
  EXPECT_EQ(h.cupsRowFeed, 4u);  // the quality Gutenprint reads back, Standard

  // Its highest resolution, the Best quality; Gutenprint reads the choice back from
  // cupsRowFeed. A PageSize wins over a media of another size, as cupsMarkOptions has it.
  h = sixteenBitPageHeader(p800, {{"media", "na_letter_8.5x11in"},
                                  {"PageSize", "A4"},
                                  {"StpQuality", "Best"},
                                  {"StpColorPrecision", "Normal"}});
  EXPECT_EQ(h.HWResolution[0], 5760u);
  EXPECT_EQ(h.HWResolution[1], 2880u);
  EXPECT_EQ(h.cupsRowFeed, 9u);
  EXPECT_EQ(h.cupsWidth, 47600u);
  EXPECT_EQ(h.cupsHeight, 33680u);
  EXPECT_EQ(h.cupsBitsPerColor, 16u);
  EXPECT_STREQ(h.cupsPageSizeName, "A4");

  // Colour models that cannot carry RGB printer values are refused, saying which.
  EXPECT_EQ(refusal(p800, {{"ColorModel", "CMYK"}}),
            "This preset prints with the driver's color model \"CMYK\", which cannot carry colors "
            "converted to an RGB printer profile. Choose an RGB color model in Printer settings "
            "before using an RGB printer profile.");
  EXPECT_EQ(refusal(p800, {{"ColorModel", "Gray"}}), kBlackAndWhiteWithRgbProfile);
  EXPECT_EQ(refusal(p800, {{"ColorModel", "Black"}}), kBlackAndWhiteWithRgbProfile);
  EXPECT_EQ(refusal(p800, {{"ColorModel", "RGB"}}), "");

  // The Pro9000 prints at 600 dpi whatever its quality.
  h = sixteenBitPageHeader(gutenprintPpd(dir, "bjc-PIXMA-Pro9000mk2"), {{"PageSize", "A4"}});
  EXPECT_EQ(h.HWResolution[0], 600u);
  EXPECT_EQ(h.cupsWidth, 4958u);
}

TEST(RasterPageHeader, APpdWhoseOptionsLibcupsCannotInterpretIsRefused) {
  testing::TempDir dir;
  const std::string head =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n*ModelName: \"Test\"\n*NickName: \"Test\"\n"
      "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: A4\n"
      "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
      "*ImageableArea A4/A4: \"0 0 595 842\"\n*PaperDimension A4/A4: \"595 842\"\n"
      "*OpenUI *ColorModel/Color Model: PickOne\n*DefaultColorModel: RGB\n";
  // No resolution at all is a header libcups calls unsupported.
  auto broken = QueuePpd::fromFile(dir.write(
      "broken.ppd",
      head + "*ColorModel RGB/RGB: \"<</cupsColorSpace 1/HWResolution[0 0]>>setpagedevice\"\n"
             "*CloseUI: *ColorModel\n"));
  ASSERT_TRUE(broken);
  EXPECT_EQ(refusal(*broken, {}), kRasterHeaderUnreadable);
  EXPECT_FALSE(takesCupsRaster(*broken));
}

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

TEST(RasterDocument, EveryRowReadsBackAsDrawnAndCopiesFollowTheirCollation) {
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

  for (bool collated : {false, true}) {
    SCOPED_TRACE(collated ? "collated" : "uncollated");
    job.copies = 2;
    job.collated = collated;
    std::string written;
    const std::vector<FileSpan> spans = writeRasterDocument(
        job, art, paper, 100, 0, 0, [&](std::string_view bytes) { written.append(bytes); });
    std::string sent;
    for (const FileSpan& span : spans) sent += written.substr(span.offset, span.length);
    // Each sheet is written once, whatever the copies.
    EXPECT_LT(written.size(), sent.size());

    const std::vector<ReadPage> pages = readBack(sent);
    ASSERT_EQ(pages.size(), 4u);
    const auto& a = first;
    const auto& b = second;
    const std::vector<const std::vector<std::uint16_t>*> order =
        collated ? std::vector{&a, &b, &a, &b} : std::vector{&a, &a, &b, &b};
    for (size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(pages[i].header.cupsBitsPerColor, 16u);
      EXPECT_EQ(pages[i].header.cupsWidth, 1200u);
      EXPECT_TRUE(pages[i].samples == *order[i]) << "sheet " << i;
    }
  }
}

TEST(RasterDocument, CopiesAndTheirCollationAreReadAsPdftopdfReadsThem) {
  testing::TempDir dir;
  const QueuePpd p800 = gutenprintPpd(dir, "escp2-p800");
  PrintSettings settings("p800");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
  const artwork::PaperGeometry a4{20990 * 72.0 / 2540, 29704 * 72.0 / 2540, 0, 0, 595, 842};
  auto plan = [&](std::vector<PrintOption> options) {
    options.push_back({"PageSize", "A4"});
    return planRasterJob(p800, settings, options, a4);
  };
  EXPECT_EQ(plan({{"copies", "3"}}).copies, 3);
  EXPECT_FALSE(plan({{"copies", "3"}}).collated);
  EXPECT_TRUE(plan({{"Collate", "True"}}).collated);
  EXPECT_TRUE(
      plan({{"multiple-document-handling", "separate-documents-collated-copies"}}).collated);
  EXPECT_FALSE(
      plan({{"multiple-document-handling", "separate-documents-uncollated-copies"}}).collated);
  EXPECT_FALSE(plan({{"sheet-collate", "uncollated"}}).collated);

  // The raster is the measured sheet: a PageSize that is not the saved entry is the paper
  // having changed.
  EXPECT_THROW(planRasterJob(p800, settings, {{"PageSize", "Letter"}}, a4), PrintFailure);
  // A landscape sheet lies turned on portrait media as the PPD's Plus90 turns it.
  settings.setOrientation(Orientation::landscape);
  const artwork::PaperGeometry turned{a4.height, a4.width, 0, 0, 842, 595};
  const RasterJob landscape = planRasterJob(p800, settings, {{"PageSize", "A4"}}, turned);
  EXPECT_EQ(landscape.grid.turn, 90);
  EXPECT_EQ(landscape.grid.media.width, 595);
}

}  // namespace
}  // namespace vardelle::printing
