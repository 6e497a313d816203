#include "printing/settings/restore.h"

#include <gtest/gtest.h>

#include "base/print_failure.h"
#include "printing/cups/printers.h"
#include "testing/failure.h"

namespace vardelle::printing {
namespace {

using testing::failureOf;

NativeSnapshot snapshotOf(const std::string& printerName, std::string archive) {
  NativeSnapshot snapshot;
  snapshot.printerName = printerName;
  snapshot.archive = std::move(archive);
  return snapshot;
}

TEST(RestorePrintInfo, GivesBackTheArchivedSettings) {
  PrintSettings settings("Studio");
  ASSERT_TRUE(settings.setOption("media", "na_letter_8.5x11in"));
  EXPECT_EQ(restorePrintInfo(snapshotOf("Studio", settings.archive())), settings);
}

TEST(RestorePrintInfo, BrokenArchivesAndOtherPrintersHaveTheirOwnSentences) {
  const std::string notRestored =
      "The saved native printer settings could not be restored. Save Printer Settings again.";
  const std::string otherPrinter =
      "The saved printer settings are invalid or refer to a different printer.";
  std::string archive = PrintSettings("Studio").archive();
  EXPECT_EQ(failureOf([&] { restorePrintInfo(snapshotOf("Studio", "")); }), notRestored);
  EXPECT_EQ(failureOf([&] { restorePrintInfo(snapshotOf("Studio", archive.substr(1))); }),
            notRestored);
  EXPECT_EQ(failureOf([&] { restorePrintInfo(snapshotOf("studio", archive)); }), otherPrinter);
  EXPECT_EQ(failureOf([&] { restorePrintInfo(snapshotOf("Studio ", archive)); }), otherPrinter);
}

TEST(VerifyPrinter, ARenamedPrinterFailsBeforeThePrintSystemIsAsked) {
  PrintRequest request;
  request.printerName = "Studio";
  request.printerId = "urn:uuid:00000000-0000-0000-0000-000000000000";
  PrintSettings settings("Office");
  // No print system is reachable from here; the name alone must decide.
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, request); }),
            "The printer changed inside Printer Settings. Select that printer in the app and save "
            "its own preset instead.");
}

TEST(VerifyPrinter, WithoutARequestIdentifierThePrintSystemIsNotAsked) {
  PrintRequest request;
  request.printerName = "Studio";
  // CUPS_SERVER is not consulted at all: a request without identifier passes on the name.
  EXPECT_NO_THROW(verifyPrinter(PrintSettings("Studio"), request));
}

}  // namespace
}  // namespace vardelle::printing
