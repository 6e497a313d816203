#include "printing/cups/same_sheet.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace vardelle::printing {
namespace {

// Sheets a photo or art printer offers side by side, some of them close neighbours (4 × 6 in and
// 10 × 15 cm, ISO and JIS B5, A4 and Letter).
constexpr const char* kSheets[] = {
    "iso_a3_297x420mm",
    "iso_a4_210x297mm",
    "iso_a5_148x210mm",
    "iso_a6_105x148mm",
    "iso_b5_176x250mm",
    "jis_b5_182x257mm",
    "na_letter_8.5x11in",
    "na_legal_8.5x14in",
    "na_index-4x6_4x6in",
    "om_small-photo_100x150mm",
    "na_5x7_5x7in",
    "na_index-5x8_5x8in",
    "oe_photo-l_3.5x5in",
    "om_photo-30x40_300x400mm",
    "na_ledger_11x17in",
    "oe_square-photo_5x5in",
    "om_square-photo_89x89mm",
};

// A PPD declares every sheet in whole points; CUPS converts them to hundredths of a millimetre
// (PWG_FROM_POINTS). That rounding must always count as the named sheet.
TEST(SameSheet, APpdsWholePointsAreTheNamedSheet) {
  for (const char* name : kSheets) {
    const pwg_media_t* pwg = pwgMediaForPWG(name);
    ASSERT_TRUE(pwg) << name;
    for (int nominal : {pwg->width, pwg->length}) {
      const double points = std::round(nominal * 72.0 / 2540.0);
      const int converted = static_cast<int>((points * 2540.0 + 36.0) / 72.0);
      EXPECT_LE(std::abs(converted - nominal), kNamedSizeToleranceHundredths) << name;
    }
  }
}

// Each tolerance still tells every pair of different sheets apart, so a loosened number shows
// here before a print lands on the neighbouring size.
TEST(SameSheet, NoToleranceMakesTwoOfferedSheetsOne) {
  for (const char* a : kSheets) {
    for (const char* b : kSheets) {
      const pwg_media_t* first = pwgMediaForPWG(a);
      const pwg_media_t* second = pwgMediaForPWG(b);
      if (first == second) continue;
      const int apart = std::max(std::abs(first->width - second->width),
                                 std::abs(first->length - second->length));
      EXPECT_GT(apart, 2 * kNamedSizeToleranceHundredths) << a << " " << b;
      EXPECT_GT(apart, kDialogToMediaToleranceHundredths) << a << " " << b;
      EXPECT_GT(apart * 72.0 / 2540.0, 2 * kDialogToPpdTolerancePt) << a << " " << b;
    }
  }
}

TEST(SameSheet, DriftIsMeasuredOnEachValueAndNaNIsNeverTheSame) {
  const artwork::PaperGeometry saved{595, 842, 10, 10, 575, 822};
  artwork::PaperGeometry moved = saved;
  moved.imageableHeight += kPaperDriftTolerancePt;
  EXPECT_NO_THROW(requireSamePaper(saved, moved));
  moved.imageableHeight += kPaperDriftTolerancePt;
  EXPECT_THROW(requireSamePaper(saved, moved), std::exception);
  moved = saved;
  moved.width = std::nan("");
  EXPECT_THROW(requireSamePaper(saved, moved), std::exception);
}

}  // namespace
}  // namespace vardelle::printing
