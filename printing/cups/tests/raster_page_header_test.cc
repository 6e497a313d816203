#include "printing/cups/raster_page_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printing/settings/print_color_entries.h"
#include "testing/failure.h"
#include "testing/ppd_fixtures.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

using testing::gutenprintPpd;

std::string refusal(const QueuePpd& ppd, const std::vector<PrintOption>& options) {
  return testing::failureOf([&] { sixteenBitPageHeader(ppd, options); });
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
  const QueuePpd broken = testing::openPpd(
      dir, head +
               "*ColorModel RGB/RGB: \"<</cupsColorSpace 1/HWResolution[0 0]>>setpagedevice\"\n"
               "*CloseUI: *ColorModel\n");
  EXPECT_EQ(refusal(broken, {}), kRasterHeaderUnreadable);
  EXPECT_FALSE(takesCupsRaster(broken));
}

}  // namespace
}  // namespace vardelle::printing
