#include "printing/cups/printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "base/print_failure.h"
#include "printing/cups/paper_measurement.h"
#include "printing/settings/print_summary.h"
#include "printing/settings/restore.h"
#include "testing/cups_rig.h"
#include "testing/failure.h"
#include "testing/silent_server.h"

namespace vardelle::printing {
namespace {

using testing::failureOf;

const std::string kIdentityMismatch =
    "The native printer identity does not match this preset. Refresh the printer list and save "
    "Printer Settings again.";
const std::string kPrinterChanged =
    "The printer changed inside Printer Settings. Select that printer in the app and save its own "
    "preset instead.";

PrintRequest requestFor(const std::string& printer, std::optional<std::string> id) {
  PrintRequest request;
  request.printerName = printer;
  request.printerId = std::move(id);
  request.snapshotPath = "/nonexistent/snapshot.json";
  return request;
}

TEST(Printers, TheQueueIsFoundByItsExactNameWithCupsdsUuid) {
  testing::CupsRig rig;
  auto printer = findPrinter(rig.queue());
  ASSERT_TRUE(printer);
  EXPECT_EQ(printer->name, rig.queue());
  EXPECT_TRUE(printer->identifier.starts_with("urn:uuid:")) << printer->identifier;
  EXPECT_EQ(currentPrinterID(PrintSettings(rig.queue())), printer->identifier);
  // An lpoptions instance prints to the same queue and shares its identity.
  EXPECT_EQ(findPrinter(rig.queue() + "/draft")->identifier, printer->identifier);

  EXPECT_FALSE(findPrinter("no-such-queue"));
  EXPECT_FALSE(findPrinter("VARDELLE-TEST"));  // cupsd would take it; the settings name another
  EXPECT_FALSE(findPrinter(""));
  EXPECT_FALSE(findPrinter("with space"));
  EXPECT_EQ(failureOf([&] { requireInstalledPrinter("no-such-queue"); }),
            "The selected printer is no longer installed on this Mac.");
  EXPECT_FALSE(currentPrinterID(PrintSettings("no-such-queue")));
}

TEST(Printers, DeletedAndRecreatedQueuesLoseTheirIdentity) {
  testing::CupsRig rig;
  std::string saved = *currentPrinterID(PrintSettings(rig.queue()));
  PrintSettings settings(rig.queue());
  EXPECT_NO_THROW(verifyPrinter(settings, requestFor(rig.queue(), saved)));

  rig.deleteQueue(rig.queue());
  EXPECT_EQ(failureOf([&] { requireInstalledPrinter(rig.queue()); }),
            "The selected printer is no longer installed on this Mac.");
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), saved)); }),
            kIdentityMismatch);
  EXPECT_EQ(failureOf([&] { paperGeometry(settings); }),
            "The selected printer is no longer installed on this Mac.");

  rig.addQueue(rig.queue());
  auto recreated = currentPrinterID(settings);
  ASSERT_TRUE(recreated);
  EXPECT_NE(*recreated, saved);
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), saved)); }),
            kIdentityMismatch);
  EXPECT_NO_THROW(verifyPrinter(settings, requestFor(rig.queue(), *recreated)));
  // Without an identifier in the request only the name counts.
  EXPECT_NO_THROW(verifyPrinter(settings, requestFor(rig.queue(), std::nullopt)));
}

TEST(Printers, APresetNamingThePrinterBehindTheQueueOutlivesTheQueue) {
  testing::CupsRig rig;
  PrintSettings settings(rig.queue());
  const std::string printer = "urn:uuid:0a606bfb-82f9-30b7-563b-667e372b9bb1";
  int asked = 0;
  auto behind = [&](std::optional<std::string> uuid) -> PrinterBehind {
    return [&asked, uuid] {
      ++asked;
      return uuid;
    };
  };
  // The queue's own identifier needs nobody on the network.
  EXPECT_NO_THROW(verifyPrinter(
      settings, requestFor(rig.queue(), *currentPrinterID(settings)), behind(printer)));
  EXPECT_EQ(asked, 0);
  // The printer's, however it is written, for as long as that printer is the one behind it.
  rig.deleteQueue(rig.queue());
  rig.addQueue(rig.queue());
  for (const std::string& id : {printer, std::string("0A606BFB-82F9-30B7-563B-667E372B9BB1"),
                               std::string("URN:UUID:0a606bfb-82f9-30b7-563b-667e372b9bb1")}) {
    EXPECT_NO_THROW(verifyPrinter(settings, requestFor(rig.queue(), id), behind(printer))) << id;
  }
  EXPECT_EQ(asked, 3);
  // Another printer behind the name, a printer that says no UUID, a queue without a network
  // printer, and identifiers that only look alike.
  for (const auto& [id, found] :
       std::vector<std::pair<std::string, std::optional<std::string>>>{
           {printer, "urn:uuid:1b606bfb-82f9-30b7-563b-667e372b9bb1"},
           {printer, std::nullopt},
           {printer, ""},
           {"urn:uuid:", "urn:uuid:"},
           {"", ""},
           {"urn:uuid:0a606bfb", printer}}) {
    EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), id), behind(found)); }),
              kIdentityMismatch)
        << id << " against " << found.value_or("none");
  }
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), printer)); }),
            kIdentityMismatch);
}

TEST(Printers, APrinterRenamedInsideTheSettingsIsRefusedByName) {
  testing::CupsRig rig;
  rig.addQueue("other-printer");
  std::string id = *currentPrinterID(PrintSettings(rig.queue()));
  PrintSettings settings(rig.queue());
  settings.setPrinterName("other-printer");
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), id)); }),
            kPrinterChanged);
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), std::nullopt)); }),
            kPrinterChanged);
}

TEST(Printers, AStoppedPrintSystemIsToldApartFromAMissingPrinter) {
  testing::CupsRig rig;
  PrintSettings settings(rig.queue());
  ASSERT_TRUE(settings.setOption("media", "iso_a4_210x297mm"));
  rig.stopCupsd();
  std::string unavailable = failureOf([&] { findPrinter(rig.queue()); });
  EXPECT_TRUE(unavailable.starts_with("The print system (CUPS) is not reachable")) << unavailable;
  EXPECT_EQ(failureOf([&] { requireInstalledPrinter(rig.queue()); }), unavailable);
  EXPECT_EQ(failureOf([&] { currentPrinterID(settings); }), unavailable);
  EXPECT_EQ(failureOf([&] { verifyPrinter(settings, requestFor(rig.queue(), "urn:uuid:x")); }),
            unavailable);
  EXPECT_EQ(failureOf([&] { paperGeometry(settings); }), unavailable);
  // The summary never fails: the size comes from the media name alone.
  PrintSummary summary = printSummary(settings);
  EXPECT_EQ(summary.paperName, "iso_a4_210x297mm");
  EXPECT_NEAR(summary.paperWidthMm, 210.0, 1e-9);
}

// A cupsd that accepts connections but never answers must not hang the helper.
TEST(Printers, ASilentPrintSystemTimesOut) {
  testing::SilentServer silent;
  ASSERT_TRUE(silent.listening());
  const std::string server = silent.address();
  ::setenv("CUPS_SERVER", server.c_str(), 1);
  cupsSetServer(nullptr);

  auto started = std::chrono::steady_clock::now();
  std::string failure = failureOf([] { findPrinter("vardelle-test"); });
  auto waited = std::chrono::steady_clock::now() - started;
  ::unsetenv("CUPS_SERVER");
  cupsSetServer(nullptr);

  EXPECT_TRUE(failure.starts_with("The print system (CUPS) is not reachable")) << failure;
  EXPECT_LT(waited, std::chrono::seconds(30));
}

}  // namespace
}  // namespace vardelle::printing
