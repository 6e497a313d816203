// The settings command end to end: the built helper against the private cupsd, its dialog on a
// private X server, answered with xdotool as a user would.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "printing/cups/paper_measurement.h"
#include "printing/cups/printers.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/print_summary.h"
#include "printing/settings/snapshot.h"
#include "testing/cups_rig.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/xvfb.h"

namespace vardelle::printing {
namespace {

using testing::CupsRig;
using testing::ProcessOutput;
using testing::TempDir;
using testing::Xvfb;

constexpr const char* kWindow = "Printer Settings";
// The rig's A4 sheet (testing/printer/vardelle-test.ppd), hundredths of a millimetre.
double pt(int hundredths) { return hundredths * 72.0 / 2540.0; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

class SettingsCommand : public ::testing::Test {
 protected:
  std::string request(const std::string& extra = "") const {
    return dir.write("request.json", "{\"printerName\":\"" + rig.queue() +
                                         "\",\"snapshotPath\":\"" + snapshotPath() +
                                         "\",\"scalePercent\":100" + extra + "}");
  }
  std::string snapshotPath() const { return dir.file("preset.json"); }

  std::map<std::string, std::string> env() const { return xvfb.helperEnv(rig.environment()); }

  // Runs `vardelle settings` while `user` acts on its dialog from another thread.
  ProcessOutput run(const std::string& requestPath, const std::function<void()>& user) const {
    std::thread acting(user);
    ProcessOutput output = testing::runVardelle("settings", requestPath, env());
    acting.join();
    return output;
  }
  ProcessOutput runAnswering(const std::string& requestPath, const std::string& key,
                             bool* answered = nullptr) const {
    return run(requestPath, [&] {
      const bool done = testing::answerWindow(xvfb.display(), kWindow, key);
      if (answered) *answered = done;
    });
  }

  TempDir dir;
  CupsRig rig;
  Xvfb xvfb;
};

TEST_F(SettingsCommand, ConfirmSavesTheSnapshotWhoseSummaryIsTheResults) {
  const std::string uuid = requireInstalledPrinter(rig.queue()).identifier;
  bool answered = false;
  ProcessOutput out = runAnswering(request(",\"printerId\":\"" + uuid + "\""), "Return", &answered);
  ASSERT_TRUE(answered) << out.err;
  ASSERT_EQ(out.exitStatus, 0) << out.out << out.err;
  const auto result = nlohmann::json::parse(out.out);
  EXPECT_EQ(result["ok"], true);
  EXPECT_EQ(result["cancelled"], false);
  ASSERT_TRUE(result.contains("summary"));

  const auto snapshot = nlohmann::json::parse(testing::readFile(snapshotPath()));
  EXPECT_EQ(snapshot["version"], 1);
  EXPECT_EQ(snapshot["printerId"], uuid);
  EXPECT_EQ(snapshot["printerName"], rig.queue());
  EXPECT_EQ(snapshot["summary"], result["summary"]);
  EXPECT_EQ(result["summary"]["printerName"], rig.queue());
  EXPECT_EQ(result["summary"]["orientation"], "portrait");
  EXPECT_EQ(result["summary"]["copies"], 1);
  // The queue's default A4 with the PPD's margins, to the last bit.
  const auto& paper = snapshot["paper"];
  EXPECT_EQ(paper["width"].get<double>(), pt(21000));
  EXPECT_EQ(paper["height"].get<double>(), pt(29700));
  EXPECT_EQ(paper["imageableX"].get<double>(), pt(300));
  EXPECT_EQ(paper["imageableY"].get<double>(), pt(500));
  EXPECT_EQ(paper["imageableWidth"].get<double>(), pt(21000 - 300 - 400));
  EXPECT_EQ(paper["imageableHeight"].get<double>(), pt(29700 - 500 - 600));

  // The archive holds the settings the job will be made of: the paper and the exact-size layout.
  auto archive = base64Decode(snapshot["archive"].get<std::string>());
  ASSERT_TRUE(archive);
  auto settings = PrintSettings::restore(*archive);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->printerName(), rig.queue());
  EXPECT_EQ(settings->media(), "iso_a4_210x297mm");
  EXPECT_EQ(settings->option("print-scaling"), "none");
  EXPECT_EQ(settings->option("number-up"), "1");
}

TEST_F(SettingsCommand, EscapeAndCancelLeaveTheSnapshotUnchanged) {
  ProcessOutput saved = runAnswering(request(), "Return");
  ASSERT_EQ(saved.exitStatus, 0) << saved.out << saved.err;
  const std::string before = testing::readFile(snapshotPath());
  ASSERT_FALSE(before.empty());
  for (const char* key : {"Escape", "alt+c"}) {
    bool answered = false;
    ProcessOutput out = runAnswering(request(), key, &answered);
    EXPECT_TRUE(answered) << key;
    EXPECT_EQ(out.exitStatus, 0) << key;
    EXPECT_EQ(out.out, "{\"cancelled\":true,\"ok\":true}\n") << key;
    EXPECT_EQ(testing::readFile(snapshotPath()), before) << key;
  }
}

TEST_F(SettingsCommand, UnreadableSnapshotStartsFreshWithOneNoteAndIsReplaced) {
  dir.write("preset.json", "not a snapshot");
  ProcessOutput out = runAnswering(request(), "Return");
  ASSERT_EQ(out.exitStatus, 0) << out.out << out.err;
  const auto err = lines(out.err);
  ASSERT_EQ(err.size(), 1u) << out.err;
  EXPECT_EQ(err[0].rfind("Starting fresh Printer Settings: ", 0), 0u) << err[0];
  EXPECT_EQ(nlohmann::json::parse(testing::readFile(snapshotPath()))["summary"],
            nlohmann::json::parse(out.out)["summary"]);
}

TEST_F(SettingsCommand, SavedSettingsAreWhereTheDialogStarts) {
  PrintSettings letter(rig.queue());
  ASSERT_TRUE(letter.setOption(PrintSettings::kMedia, "na_letter_8.5x11in"));
  ASSERT_TRUE(letter.setOption(PrintSettings::kCopies, "3"));
  letter.setOrientation(Orientation::landscape);
  NativeSnapshot saved;
  saved.printerName = rig.queue();
  saved.archive = letter.archive();
  saved.paper = paperGeometry(letter);
  saved.summary = printSummary(letter);
  dir.write("preset.json", saved.toFileBytes());

  ProcessOutput out = runAnswering(request(), "Return");
  ASSERT_EQ(out.exitStatus, 0) << out.out << out.err;
  EXPECT_TRUE(out.err.empty()) << out.err;
  const auto summary = nlohmann::json::parse(out.out)["summary"];
  EXPECT_EQ(summary["orientation"], "landscape");
  EXPECT_EQ(summary["copies"], 3);
  EXPECT_EQ(summary["paperWidthMm"].get<double>(), 279.4);
  const auto paper = nlohmann::json::parse(testing::readFile(snapshotPath()))["paper"];
  EXPECT_EQ(paper["width"].get<double>(), pt(27940));
  EXPECT_EQ(paper["height"].get<double>(), pt(21590));
}

TEST_F(SettingsCommand, SettingsThatCannotBeRestoredStartFreshSilently) {
  PrintSettings letter(rig.queue());
  ASSERT_TRUE(letter.setOption(PrintSettings::kMedia, "na_letter_8.5x11in"));
  NativeSnapshot saved;
  saved.printerName = rig.queue();
  saved.archive = "not an archive";
  saved.paper = paperGeometry(letter);
  saved.summary = printSummary(letter);
  dir.write("preset.json", saved.toFileBytes());

  ProcessOutput out = runAnswering(request(), "Return");
  ASSERT_EQ(out.exitStatus, 0) << out.out << out.err;
  EXPECT_TRUE(out.err.empty()) << out.err;
  EXPECT_EQ(nlohmann::json::parse(out.out)["summary"]["paperWidthMm"].get<double>(), 210.0);
}

TEST_F(SettingsCommand, WithoutPrinterIdTheSnapshotHasNoIdentifier) {
  ProcessOutput out = runAnswering(request(), "Return");
  ASSERT_EQ(out.exitStatus, 0) << out.out << out.err;
  const auto snapshot = nlohmann::json::parse(testing::readFile(snapshotPath()));
  EXPECT_FALSE(snapshot.contains("printerId"));
  EXPECT_EQ(snapshot["printerName"], rig.queue());
}

TEST_F(SettingsCommand, AnotherPrinterChosenInTheDialogSavesNothing) {
  rig.addQueue("zz-other");
  ProcessOutput out = run(request(), [&] {
    const std::string window = testing::findWindow(xvfb.display(), kWindow);
    ASSERT_FALSE(window.empty());
    // A click on the third row of the printer list ("Print to File", the rig's queue, then
    // this one, in name order), as a user would choose it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    testing::runProcess(
        {"/usr/bin/xdotool", "mousemove", "--sync", "--window", window, "70", "132", "click", "1"},
        {{"DISPLAY", xvfb.display()}});
    std::this_thread::sleep_for(std::chrono::seconds(2));
    testing::answerWindow(xvfb.display(), kWindow, "Return");
  });
  EXPECT_EQ(out.exitStatus, 1);
  EXPECT_EQ(out.out,
            "{\"error\":\"The printer changed inside Printer Settings. Select that printer in the "
            "app and save its own preset instead.\",\"ok\":false}\n");
  EXPECT_TRUE(testing::readFile(snapshotPath()).empty());
}

TEST_F(SettingsCommand, CopiesAndDisplayAreRefusedBeforeTheSnapshotIsRead) {
  dir.write("preset.json", "not a snapshot");
  auto env = this->env();
  ProcessOutput copies = testing::runVardelle("settings", request(",\"copies\":2"), env);
  EXPECT_EQ(copies.exitStatus, 1);
  EXPECT_EQ(copies.out,
            "{\"error\":\"A copies override can only be used when printing; saved preset copies "
            "remain unchanged.\",\"ok\":false}\n");
  EXPECT_TRUE(copies.err.empty()) << copies.err;

  env["DISPLAY"] = testing::kUnset;
  ProcessOutput noDisplay = testing::runVardelle("settings", request(), env);
  EXPECT_EQ(noDisplay.exitStatus, 1);
  EXPECT_EQ(noDisplay.out,
            "{\"error\":\"Printer Settings cannot be shown because no graphical display is "
            "available to the helper.\",\"ok\":false}\n");
  EXPECT_EQ(noDisplay.err.find("Starting fresh"), std::string::npos) << noDisplay.err;
  EXPECT_EQ(testing::readFile(snapshotPath()), "not a snapshot");
}

TEST_F(SettingsCommand, UnknownPrinterAndForeignIdentityAreRefusedBeforeTheDialog) {
  ProcessOutput wrongId = testing::runVardelle(
      "settings", request(",\"printerId\":\"urn:uuid:not-this-queue\""), env());
  EXPECT_EQ(wrongId.exitStatus, 1);
  EXPECT_EQ(wrongId.out,
            "{\"error\":\"The native printer identity does not match this preset. Refresh the "
            "printer list and save Printer Settings again.\",\"ok\":false}\n");

  const std::string missing =
      dir.write("missing.json", "{\"printerName\":\"no-such-queue\",\"snapshotPath\":\"" +
                                    snapshotPath() + "\",\"scalePercent\":100}");
  ProcessOutput notInstalled = testing::runVardelle("settings", missing, env());
  EXPECT_EQ(notInstalled.exitStatus, 1);
  EXPECT_EQ(
      notInstalled.out,
      "{\"error\":\"The selected printer is no longer installed on this Mac.\",\"ok\":false}\n");
  EXPECT_TRUE(testing::readFile(snapshotPath()).empty());
}

TEST_F(SettingsCommand, WatchdogEndsAnOpenDialogWithItsOwnLineOnly) {
  const std::string out = dir.file("out.txt");
  std::string window;
  std::thread watching([&] { window = testing::findWindow(xvfb.display(), kWindow); });
  auto env = this->env();
  env.erase("KORVANEL_PARENT_PID");
  // The shell names itself the parent and exits while the dialog is open.
  ProcessOutput shell = testing::runProcess(
      {"/bin/sh", "-c",
       "export KORVANEL_PARENT_PID=$$; \"$0\" settings \"$1\" >\"$2\" 2>/dev/null & sleep 5",
       VARDELLE_BINARY, request(), out},
      env);
  watching.join();
  EXPECT_FALSE(window.empty()) << "the dialog was not open when the parent went";
  for (int i = 0; i < 50 && testing::readFile(out).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(testing::readFile(out),
            "{\"error\":\"The app closed before this operation finished.\",\"ok\":false}\n");
  EXPECT_TRUE(testing::readFile(snapshotPath()).empty());
}

}  // namespace
}  // namespace vardelle::printing
