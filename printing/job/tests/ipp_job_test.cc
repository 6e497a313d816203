#include "printing/job/ipp_job.h"

#include <gtest/gtest.h>

namespace vardelle::printing {
namespace {

TEST(IppJob, OnlyTheTryAgainLaterAnswersAreWaitedFor) {
  EXPECT_TRUE(printerBusy(IPP_STATUS_ERROR_BUSY));
  EXPECT_TRUE(printerBusy(IPP_STATUS_ERROR_SERVICE_UNAVAILABLE));
  EXPECT_TRUE(printerBusy(IPP_STATUS_ERROR_TEMPORARY));
  EXPECT_FALSE(printerBusy(IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS));
  EXPECT_FALSE(printerBusy(IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES));
  EXPECT_FALSE(printerBusy(IPP_STATUS_ERROR_INTERNAL));
  EXPECT_FALSE(printerBusy(IPP_STATUS_OK));
}

TEST(IppJob, ABusyPrinterIsAskedAgainAfterGrowingVariedPauses) {
  const int expected[] = {1000, 1000, 2000, 3000, 5000, 5000, 5000};
  std::chrono::milliseconds total{0};
  bool varied = false;
  for (int attempt = 0; attempt < 7; ++attempt) {
    const std::chrono::milliseconds pause = busyPause(attempt);
    EXPECT_GE(pause.count(), expected[attempt] * 3 / 4) << attempt;
    EXPECT_LE(pause.count(), expected[attempt] * 5 / 4) << attempt;
    varied = varied || pause.count() != expected[attempt];
    total += pause;
  }
  EXPECT_TRUE(varied);
  // Within the limit a busy printer is asked about fifteen times.
  EXPECT_LT(total, kPrinterBusyLimit);
}

}  // namespace
}  // namespace vardelle::printing
