#include "printing/dialog/settings_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "base/print_failure.h"
#include "testing/cups_rig.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/xvfb.h"

namespace vardelle::printing {
namespace {

using testing::Xvfb;

// GTK binds to one display for the life of the process, so every test here shares one server.
const Xvfb& server() {
  static const Xvfb xvfb;
  static const bool exported = [] {
    for (const auto& [name, value] : xvfb.env()) {
      if (value == testing::kUnset) {
        ::unsetenv(name.c_str());
      } else {
        ::setenv(name.c_str(), value.c_str(), 1);
      }
    }
    return true;
  }();
  (void)exported;
  return xvfb;
}

// Likewise GTK's printer list talks to one print system for the life of the process.
std::string rigPrinter() {
  static const testing::CupsRig rig;
  return rig.queue();
}

// Types `key` into the dialog from another thread once it is on screen.
class KeyPress {
 public:
  explicit KeyPress(std::string key)
      : thread_([this, key] {
          pressed_ = testing::answerWindow(server().display(), "Printer Settings", key);
        }) {}
  ~KeyPress() {
    if (thread_.joinable()) thread_.join();
  }
  bool pressed() {
    if (thread_.joinable()) thread_.join();
    return pressed_;
  }

 private:
  bool pressed_ = false;
  std::thread thread_;
};

DialogStart startFor(const std::string& printer) {
  DialogStart start;
  start.printerName = printer;
  return start;
}

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    rigPrinter();
    server();
    requireDisplay();
  }
};

TEST_F(SettingsDialog, ShowsSaveSettingsWithoutDocumentControls) {
  testing::TempDir dir;
  bool shown = false;
  DialogStart start = startFor(rigPrinter());
  auto choice = runSettingsDialog(start, std::chrono::seconds(20), [&](const ShownDialog& d) {
    shown = true;
    EXPECT_EQ(d.defaultButtonLabel(), "Save Settings");
    const std::vector<std::string> texts = d.visibleTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Save Settings"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "All Pages"), texts.end());
    ASSERT_TRUE(d.savePicture(dir.file("dialog.png")));
    EXPECT_EQ(testing::readFile(dir.file("dialog.png")).substr(1, 3), "PNG");
    d.close();
  });
  EXPECT_TRUE(shown);
  EXPECT_FALSE(choice) << "closing the window is a cancellation";
}

TEST_F(SettingsDialog, ReturnConfirmsThePreselectedPrinter) {
  KeyPress enter("Return");
  auto choice = runSettingsDialog(startFor(rigPrinter()));
  ASSERT_TRUE(enter.pressed());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->printerName, rigPrinter());
  EXPECT_EQ(choice->copies, 1);
  EXPECT_EQ(choice->paperName, "iso_a4");
  EXPECT_EQ(choice->ppdName, "A4") << "the queue's own name for the paper";
  EXPECT_EQ(choice->orientation, Orientation::portrait);
}

TEST_F(SettingsDialog, CopiesAreCappedAtWhatAPrintMayAskFor) {
  KeyPress enter("Return");
  DialogStart start = startFor(rigPrinter());
  start.copies = 250;
  auto choice = runSettingsDialog(start);
  ASSERT_TRUE(enter.pressed());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->copies, kMaxDialogCopies);
}

TEST_F(SettingsDialog, StartsFromTheQueuesOwnPaperEntry) {
  KeyPress enter("Return");
  DialogStart start = startFor(rigPrinter());
  start.ppdName = "Letter";
  start.ppdDisplayName = "US Letter";
  start.ppdWidthPt = 612;
  start.ppdHeightPt = 792;
  auto choice = runSettingsDialog(start);
  ASSERT_TRUE(enter.pressed());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->ppdName, "Letter");
  EXPECT_NEAR(choice->paperWidthMm, 215.9, 0.01);
}

TEST_F(SettingsDialog, StartsFromTheSavedPaperOrientationAndCopies) {
  KeyPress enter("Return");
  DialogStart start = startFor(rigPrinter());
  start.mediaName = "na_letter_8.5x11in";
  start.orientation = Orientation::landscape;
  start.copies = 3;
  auto choice = runSettingsDialog(start);
  ASSERT_TRUE(enter.pressed());
  ASSERT_TRUE(choice);
  EXPECT_NEAR(choice->paperWidthMm, 215.9, 0.01);
  EXPECT_NEAR(choice->paperHeightMm, 279.4, 0.01);
  EXPECT_EQ(choice->orientation, Orientation::landscape);
  EXPECT_EQ(choice->copies, 3);
}

TEST_F(SettingsDialog, EscapeCancels) {
  KeyPress escape("Escape");
  auto choice = runSettingsDialog(startFor(rigPrinter()));
  ASSERT_TRUE(escape.pressed());
  EXPECT_FALSE(choice);
}

TEST_F(SettingsDialog, PrinterThatNeverAppearsIsNotInstalled) {
  try {
    runSettingsDialog(startFor("no-such-printer"), std::chrono::seconds(3));
    FAIL() << "expected a refusal";
  } catch (const PrintFailure& failure) {
    EXPECT_STREQ(failure.what(), "The selected printer is no longer installed on this Mac.");
  }
}

}  // namespace
}  // namespace vardelle::printing
