#include "printing/cups/printer_media.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "base/print_failure.h"
#include "printing/cups/same_sheet.h"
#include "testing/failure.h"

namespace vardelle::printing {
namespace {

struct IppDelete {
  void operator()(ipp_t* ipp) const noexcept { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

// A media-col as a printer lists it; a negative width stands for a custom-size range.
Ipp mediaCol(int width, int length, int left, int bottom, int right, int top) {
  Ipp col(ippNew());
  Ipp size(ippNew());
  if (width >= 0) {
    ippAddInteger(size.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", width);
  } else {
    ippAddRange(size.get(), IPP_TAG_ZERO, "x-dimension", 7600, 33020);
  }
  ippAddInteger(size.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", length);
  ippAddCollection(col.get(), IPP_TAG_ZERO, "media-size", size.get());
  ippAddInteger(col.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-left-margin", left);
  ippAddInteger(col.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-bottom-margin", bottom);
  ippAddInteger(col.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-right-margin", right);
  ippAddInteger(col.get(), IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-top-margin", top);
  return col;
}

// A response listing `cols` as `name`, and `ready` as media-col-ready.
Ipp answer(const std::vector<Ipp>& cols, const std::vector<Ipp>& ready = {}) {
  Ipp response(ippNew());
  for (const auto& [name, list] :
       {std::pair{"media-col-database", &cols}, std::pair{"media-col-ready", &ready}}) {
    ipp_attribute_t* attribute = nullptr;
    for (const Ipp& col : *list) {
      if (!attribute) {
        attribute = ippAddCollection(response.get(), IPP_TAG_PRINTER, name, col.get());
      } else {
        ippSetCollection(response.get(), &attribute, ippGetCount(attribute), col.get());
      }
    }
  }
  return response;
}

std::string failureOf(const PrinterMedia& media, const MediaEntry& queue) {
  return testing::failureOf([&] { printerEntryFor(media, queue, "Studio_Photo"); });
}

TEST(PrinterMedia, TheQueuesSheetMustStillBeOneThePrinterOffersMarginsAndAll) {
  std::vector<Ipp> cols;
  cols.push_back(mediaCol(21000, 29700, 0, 0, 0, 0));  // borderless A4 first
  cols.push_back(mediaCol(21000, 29700, 300, 500, 400, 600));
  cols.push_back(mediaCol(-1, 43180, 0, 0, 0, 0));  // a custom-size range names no sheet
  const PrinterMedia media = printerMedia(answer(cols).get());
  ASSERT_TRUE(media.listed);
  ASSERT_EQ(media.sheets.size(), 2u);
  EXPECT_EQ(media.impossible, 0u);

  const MediaEntry entry = printerEntryFor(media, {21000, 29700, 300, 500, 400, 600}, "Q");
  EXPECT_EQ(entry.left, 300);
  EXPECT_EQ(entry.top, 600);
  // The drift tolerance (0.02 pt) is less than a hundredth of a millimetre: the queue's copy of
  // the printer's entry has the printer's very numbers, or it is another sheet.
  EXPECT_EQ(failureOf(media, {20999, 29700, 300, 500, 400, 600}), kPaperChanged);
  EXPECT_EQ(failureOf(media, {21000, 29700, 300, 500, 400, 602}), kPaperChanged);
  EXPECT_EQ(failureOf(media, {21590, 27940, 600, 1000, 700, 800}), kPaperChanged);
}

TEST(PrinterMedia, MissingOrImpossibleDescriptionsAreSaidAsSuch) {
  EXPECT_EQ(failureOf(printerMedia(nullptr), {21000, 29700, 300, 500, 400, 600}),
            "The printer behind \"Studio_Photo\" does not list its paper sizes with their margins "
            "(media-col-database), so the artwork cannot be placed at exact size. Nothing was sent "
            "to it.");
  std::vector<Ipp> cols;
  cols.push_back(mediaCol(0, 29700, 300, 500, 400, 600));
  cols.push_back(mediaCol(21000, 29700, 30000, 500, 400, 600));
  cols.push_back(mediaCol(21000, 29700, 300, 500, -4, 600));
  cols.push_back(mediaCol(21590, 27940, 600, 1000, 700, 800));
  const PrinterMedia media = printerMedia(answer(cols).get());
  EXPECT_EQ(media.sheets.size(), 1u);
  EXPECT_EQ(media.impossible, 3u);
  EXPECT_EQ(failureOf(media, {21000, 29700, 300, 500, 400, 600}),
            "The printer behind \"Studio_Photo\" describes its paper with impossible values (a "
            "sheet without a size, or margins that leave nothing to print on), so the artwork "
            "cannot be placed at exact size. Nothing was sent to it.");
  EXPECT_EQ(printerEntryFor(media, {21590, 27940, 600, 1000, 700, 800}, "Q").length, 27940);
}

TEST(PrinterMedia, ABorderlessSheetListedOnlyAmongTheReadyOnesIsThePrintersToo) {
  std::vector<Ipp> database, ready;
  database.push_back(mediaCol(21000, 29700, 300, 500, 400, 600));
  ready.push_back(mediaCol(21000, 29700, 0, 0, 0, 0));
  ready.push_back(mediaCol(21000, 29700, -100, 0, 0, 0));  // a negative margin is no sheet
  const PrinterMedia media = printerMedia(answer(database, ready).get());
  ASSERT_EQ(media.sheets.size(), 2u);
  EXPECT_EQ(media.impossible, 1u);
  EXPECT_EQ(printerEntryFor(media, {21000, 29700, 0, 0, 0, 0}, "Q").left, 0);
  EXPECT_EQ(printerEntryFor(media, {21000, 29700, 300, 500, 400, 600}, "Q").left, 300);
  EXPECT_TRUE(printerMedia(answer({}, ready).get()).listed);
}

TEST(PrinterMedia, NumbersNearTheLimitsOfAnIntAreComparedWithoutOverflow) {
  // Two margins of INT_MAX add up to more than an int holds: taken as ints they wrapped to a
  // negative sum, and the entry passed as possible.
  constexpr int kMax = std::numeric_limits<int>::max();
  std::vector<Ipp> cols;
  cols.push_back(mediaCol(kMax, kMax, kMax, 0, kMax, 0));
  cols.push_back(mediaCol(kMax, kMax, 0, kMax, 0, kMax));
  cols.push_back(mediaCol(21000, 29700, 300, 500, 400, 600));
  const PrinterMedia media = printerMedia(answer(cols).get());
  EXPECT_EQ(media.sheets.size(), 1u);
  EXPECT_EQ(media.impossible, 2u);
  // A queue entry at one end of the range and the printer's at the other differ; the
  // difference of the two does not wrap into "the same".
  std::vector<Ipp> far;
  far.push_back(mediaCol(kMax, kMax, 0, 0, 0, 0));
  const PrinterMedia wide = printerMedia(answer(far).get());
  ASSERT_EQ(wide.sheets.size(), 1u);
  EXPECT_EQ(failureOf(wide, {std::numeric_limits<int>::min(), kMax, 0, 0, 0, 0}), kPaperChanged);
  EXPECT_EQ(printerEntryFor(wide, {kMax, kMax, 0, 0, 0, 0}, "Q").width, kMax);
}

}  // namespace
}  // namespace vardelle::printing
