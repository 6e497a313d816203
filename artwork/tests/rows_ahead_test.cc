#include "artwork/rows_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace vardelle::artwork {
namespace {

// Rows whose bytes say which row they are, with gaps in y as a clipped source gives.
void numberedRows(const RowCallback& onRow, std::uint32_t count, std::size_t rowBytes,
                  std::atomic<std::uint32_t>* produced = nullptr) {
  std::vector<unsigned char> row(rowBytes);
  for (std::uint32_t y = 0; y < count; ++y) {
    if (y % 7 == 3) continue;
    std::fill(row.begin(), row.end(), static_cast<unsigned char>(y));
    onRow(y, row.data());
    if (produced) ++*produced;
  }
}

TEST(RowsAhead, EveryRowArrivesOnceInOrderWithItsBytes) {
  for (std::size_t rowBytes : {std::size_t(3), std::size_t(600'001)}) {
    std::vector<std::uint32_t> seen;
    forEachRowAhead(
        rowBytes, [&](const RowCallback& onRow) { numberedRows(onRow, 300, rowBytes); },
        [&](std::uint32_t y, const unsigned char* row) {
          seen.push_back(y);
          EXPECT_EQ(row[0], static_cast<unsigned char>(y));
          EXPECT_EQ(row[rowBytes - 1], static_cast<unsigned char>(y));
        });
    std::vector<std::uint32_t> expected;
    for (std::uint32_t y = 0; y < 300; ++y) {
      if (y % 7 != 3) expected.push_back(y);
    }
    EXPECT_EQ(seen, expected);
  }
}

TEST(RowsAhead, AFailureOnEitherSideReachesTheCallerAndStopsTheOther) {
  // The decoder fails: the rows before it still arrive, then its exception.
  std::uint32_t delivered = 0;
  EXPECT_THROW(forEachRowAhead(
                   10,
                   [&](const RowCallback& onRow) {
                     numberedRows(onRow, 50, 10);
                     throw std::runtime_error("damaged");
                   },
                   [&](std::uint32_t, const unsigned char*) { ++delivered; }),
               std::runtime_error);
  EXPECT_EQ(delivered, 50u - 7u);

  // The consumer fails at once: the decoder stops long before the end of a huge image.
  std::atomic<std::uint32_t> produced{0};
  EXPECT_THROW(
      forEachRowAhead(
          1000, [&](const RowCallback& onRow) { numberedRows(onRow, 10'000'000, 1000, &produced); },
          [&](std::uint32_t, const unsigned char*) { throw std::logic_error("full"); }),
      std::logic_error);
  EXPECT_LT(produced.load(), 100'000u);
}

}  // namespace
}  // namespace vardelle::artwork
