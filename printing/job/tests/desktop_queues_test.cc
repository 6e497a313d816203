// The queues a Debian desktop makes by itself, tried as a new user would: Avahi on the loopback
// interface, firmware-like driverless printers announcing themselves through DNS-SD, a private
// cupsd and the real cups-browsed (testing/desktop_rig.h), the real settings dialog on a private
// X server, and the ruler measured on the page each printer renders.

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "artwork/paper_geometry.h"
#include "artwork/placement.h"
#include "printing/cups/printers.h"
#include "printing/cups/queue_ppd.h"
#include "printing/cups/queue_printer.h"
#include "printing/cups/same_sheet.h"
#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "printing/settings/print_settings.h"
#include "printing/settings/snapshot.h"
#include "testing/cups_rig.h"
#include "testing/desktop_rig.h"
#include "testing/edited_text.h"
#include "testing/placed_ruler.h"
#include "testing/png_fixtures.h"
#include "testing/print_snapshot.h"
#include "testing/raster_probe.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"
#include "testing/xvfb.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;
using testing::CupsRig;
using testing::DesktopRig;

constexpr int kDpi = 300;  // the firmware-like printers' resolution
constexpr const char* kWindow = "Printer Settings";
// The A4 entry of testing/printer/firmware.attrs, as the printer lists it.
constexpr const char* kA4MediaCol[] = {"x-dimension=21000",       "y-dimension=29700",
                                       "media-bottom-margin=500", "media-left-margin=300",
                                       "media-right-margin=400",  "media-top-margin=600"};

std::string firmwareAttributes() {
  return testing::readFile(std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/firmware.attrs");
}

// firmware.attrs with `from` replaced by `to` everywhere.
std::string firmwareWith(const std::string& from, const std::string& to) {
  return testing::replacedAll(firmwareAttributes(), from, to);
}

// The number of jobs the rig's cupsd has held for `queue`, in any state.
size_t queueJobs(const std::string& queue) {
  cups_job_t* jobs = nullptr;
  const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  cupsFreeJobs(count, jobs);
  return count > 0 ? static_cast<size_t>(count) : 0;
}

std::vector<CupsRig::KeptJob> waitForJobs(const std::string& folder, size_t count) {
  auto jobs = CupsRig::keptJobsIn(folder);
  for (int i = 0; i < 600 && jobs.size() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    jobs = CupsRig::keptJobsIn(folder);
  }
  return jobs;
}

artwork::PaperGeometry paperOf(const json& snapshot) {
  const json& paper = snapshot.at("paper");
  artwork::PaperGeometry geometry;
  geometry.width = paper.at("width");
  geometry.height = paper.at("height");
  geometry.imageableX = paper.at("imageableX");
  geometry.imageableY = paper.at("imageableY");
  geometry.imageableWidth = paper.at("imageableWidth");
  geometry.imageableHeight = paper.at("imageableHeight");
  return geometry;
}

class DesktopQueues : public ::testing::Test {
 protected:
  std::map<std::string, std::string> env() const { return xvfb.helperEnv(rig.environment()); }

  json run(const std::string& mode, const json& request,
           const std::map<std::string, std::string>& extraEnv = {},
           const std::function<void(int pid)>& whileRunning = {}) {
    std::map<std::string, std::string> variables = env();
    for (const auto& [name, value] : extraEnv) variables[name] = value;
    auto out = testing::runVardelle(mode, dir.write(mode + "-request.json", request.dump()),
                                    variables, whileRunning);
    lastError = out.err;
    try {
      return json::parse(out.out);
    } catch (const json::exception&) {
      ADD_FAILURE() << "not one JSON line: " << out.out << "\n" << out.err;
      return json::object();
    }
  }

  std::string preset(const std::string& queue) const { return dir.file(queue + "-preset.json"); }

  // A request for `queue` as the application makes it: with the queue's printer-uuid as its
  // identifier, except for a printer only discovered, which the application lists without one;
  // where `byPrinter`, with the identifier the README tells an application to read.
  json request(const std::string& queue) const {
    json r = {{"printerName", queue}, {"snapshotPath", preset(queue)}, {"scalePercent", 100}};
    if (byPrinter) {
      r["printerId"] = applicationPrinterId(queue);
    } else if (!discoveredOnly.count(queue)) {
      if (std::optional<PrinterRecord> printer = findPrinter(queue)) {
        r["printerId"] = printer->identifier;
      }
    }
    return r;
  }

  // printerId as the README tells an application to read it, from what CUPS lists
  // (cupsGetDests): the printer's own UUID, from the DNS-SD record of the service the
  // destination's device URI names, when it names one; otherwise the queue's printer-uuid.
  std::string applicationPrinterId(const std::string& queue) const {
    for (int attempt = 0; attempt < 20; ++attempt) {
      cups_dest_t* dests = nullptr;
      const int count = cupsGetDests(&dests);
      cups_dest_t* dest = cupsGetDest(queue.c_str(), nullptr, count, dests);
      const char* uri =
          dest ? cupsGetOption("device-uri", dest->num_options, dest->options) : nullptr;
      const char* own =
          dest ? cupsGetOption("printer-uuid", dest->num_options, dest->options) : nullptr;
      const std::string deviceUri = uri ? uri : "";
      const std::string queueId = own ? own : "";
      cupsFreeDests(count, dests);
      if (std::optional<NamedService> service = serviceInDeviceUri(deviceUri)) {
        if (service->uuid) return "urn:uuid:" + *service->uuid;
        auto found = testing::runProcess({"/usr/bin/ippfind", "-T", "2", service->type, "-N",
                                          service->name, "-x", "/bin/echo", "{txt_UUID}", ";"},
                                         rig.environment());
        const std::string uuid = found.out.substr(0, found.out.find('\n'));
        if (!uuid.empty()) return "urn:uuid:" + uuid;
      } else if (!isCupsBrowsedDevice(deviceUri) && !queueId.empty()) {
        return queueId;
      }
      // cups-browsed's own queue until DNS-SD answered within cupsGetDests' quarter second.
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ADD_FAILURE() << "no identifier for " << queue;
    return "";
  }

  // Saves the settings of `queue` through the real dialog, confirmed with Return as a user would.
  json saveSettings(const json& r) {
    bool answered = false;
    std::thread user([&] { answered = testing::answerWindow(xvfb.display(), kWindow, "Return"); });
    json result = run("settings", r);
    user.join();
    EXPECT_TRUE(answered) << lastError;
    return result;
  }

  // The saved preset turned to `orientation`; the dialog starts from it, so saving again through
  // the dialog keeps that orientation.
  void turnPreset(const std::string& queue, Orientation orientation) const {
    NativeSnapshot saved = decodeSnapshot(testing::readFile(preset(queue)), preset(queue));
    std::optional<PrintSettings> settings = PrintSettings::restore(saved.archive);
    ASSERT_TRUE(settings);
    settings->setOrientation(orientation);
    saved.archive = settings->archive();
    dir.write(queue + "-preset.json", saved.toFileBytes());
  }

  // Settings through the dialog, then the ruler printed portrait and landscape with a
  // 4.5 / -3 mm offset; every square measured on the page the printer rendered.
  void printRulers(const std::string& queue, const DesktopRig::Printer& printer,
                   const char* label) {
    for (Orientation orientation : {Orientation::portrait, Orientation::landscape}) {
      const bool landscape = orientation == Orientation::landscape;
      SCOPED_TRACE(landscape ? "landscape" : "portrait");
      if (landscape) turnPreset(queue, orientation);
      json saved = saveSettings(request(queue));
      ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
      ASSERT_EQ(saved["summary"]["orientation"], landscape ? "landscape" : "portrait");
      const artwork::PaperGeometry paper = paperOf(json::parse(testing::readFile(preset(queue))));

      printExactRuler(queue, printer, label, paper, landscape);
      if (::testing::Test::HasFatalFailure()) return;
    }
    // The jobs went to the printer itself: the local queue never held them.
    EXPECT_EQ(queueJobs(queue), 0u);
  }

  // The ruler printed on the preset saved for `queue` (of `paper`) with a 4.5 / -3 mm offset,
  // every square measured on the page the printer rendered. `extraEnv` and `whileRunning` as
  // for run().
  void printExactRuler(const std::string& queue, const DesktopRig::Printer& printer,
                       const char* label, const artwork::PaperGeometry& paper, bool landscape,
                       const std::map<std::string, std::string>& extraEnv = {},
                       const std::function<void(int pid)>& whileRunning = {}) {
    const size_t printed = CupsRig::keptJobsIn(printer.jobs).size() + 1;
    const double w = (landscape ? 260 : 180) * 72 / 25.4;
    const double h = (landscape ? 180 : 260) * 72 / 25.4;
    json r = request(queue);
    r["filePath"] = dir.write("ruler.pdf", testing::placedRulerPdf(w, h));
    r["offsetXmm"] = 4.5;
    r["offsetYmm"] = -3;
    json result = run("print", r, extraEnv, whileRunning);
    ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
    ASSERT_EQ(result["submitted"], true);

    auto jobs = waitForJobs(printer.jobs, printed);
    ASSERT_EQ(jobs.size(), printed);
    const auto& job = jobs.back();
    EXPECT_EQ(job.attributes.at("IPP_PRINT_SCALING"), "none");
    for (const char* member : kA4MediaCol) {
      EXPECT_NE(job.attributes.at("IPP_MEDIA_COL").find(member), std::string::npos)
          << member << " in " << job.attributes.at("IPP_MEDIA_COL");
    }
    const std::string render = testing::readFile(job.file + ".render");
    EXPECT_EQ(render, "page 1 none scale 1\n");
    auto image = testing::decodePng(testing::readFile(job.file + "-page1.png"));
    ASSERT_TRUE(image) << render;
    const auto placed = artwork::placement({w, h}, 100, paper, 4.5, -3);
    const auto landing = testing::measurePlacedRuler(*image, kDpi, placed, w, h, landscape);
    ASSERT_TRUE(landing.missing.empty()) << landing.missing;
    std::printf("%s %s: worst square error %.4f mm, scale %.6f\n", label,
                landscape ? "landscape" : "portrait", landing.worstErrorMm, landing.scale);
    EXPECT_LE(landing.worstErrorMm, 0.1);
    EXPECT_NEAR(landing.scale, 1, 0.0005);
  }

  // A preset for `queue` saved as the dialog saves it (A4 portrait, or the PPD's `entry` of A4),
  // without showing it.
  void savePreset(const std::string& queue, const std::string& entry = "A4") const {
    PrintSettings settings(queue);
    ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, entry));
    ASSERT_TRUE(settings.setOption(PrintSettings::kMedia, "iso_a4_210x297mm"));
    NativeSnapshot snapshot = testing::savedSnapshot(settings, !discoveredOnly.count(queue));
    dir.write(queue + "-preset.json", snapshot.toFileBytes());
  }

  json printRuler(const std::string& queue) {
    json r = request(queue);
    r["filePath"] = dir.write("ruler.pdf", testing::placedRulerPdf(500, 700));
    return run("print", r);
  }

  // Nothing reached `printer`, now or a moment later.
  static void expectNothingSent(const DesktopRig::Printer& printer) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(CupsRig::keptJobsIn(printer.jobs).empty());
  }

  DesktopRig rig;
  testing::Xvfb xvfb;
  testing::TempDir dir;
  std::string lastError;
  std::set<std::string> discoveredOnly;
  bool byPrinter = false;
};

TEST_F(DesktopQueues, TheirQueuesAloneLetTheFirmwareShrinkThePage) {
  // What this machine's CUPS does with these queues by itself: the job's print-scaling stays
  // behind (cups-browsed's backend hands the job to CUPS' ipp backend), and each printer fits
  // the whole sheet into its margins with its own default.
  auto browsed = rig.addPrinter("browsed", "Browsed Printer");
  auto panel = rig.addPrinter("panel", "Panel Printer");
  auto driverless = rig.addPrinter("driverless", "Driverless Printer");
  rig.addQueue("Panel_Printer", "dnssd://Panel%20Printer._ipp._tcp.local/");
  rig.addQueue("Driverless_Printer", "ipp://Driverless%20Printer._ipp._tcp.local/");
  rig.startCupsBrowsed();
  rig.waitForQueue("Browsed_Printer");
  if (cupsForwardsPrintScaling(readQueueFacts("Panel_Printer").cupsVersion)) {
    GTEST_SKIP() << "this cupsd forwards print-scaling";
  }
  const std::string sheet = dir.write("sheet.pdf", testing::placedRulerPdf(595.2756, 841.8898));
  for (const auto& [queue, printer] :
       {std::pair{"Browsed_Printer", browsed}, std::pair{"Panel_Printer", panel},
        std::pair{"Driverless_Printer", driverless}}) {
    SCOPED_TRACE(queue);
    auto lp = testing::runProcess({"/usr/bin/lp", "-d", queue, "-o", "media=iso_a4_210x297mm", "-o",
                                   "print-scaling=none", sheet},
                                  rig.environment());
    ASSERT_EQ(lp.exitStatus, 0) << lp.err;
    auto jobs = waitForJobs(printer.jobs, 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].attributes.count("IPP_PRINT_SCALING"), 0u);
    const std::string render = testing::readFile(jobs[0].file + ".render");
    std::printf("%s through its queue: %s", queue, render.c_str());
    EXPECT_NE(render.find("page 1 fit scale 0.96"), std::string::npos) << render;
  }
}

TEST_F(DesktopQueues, CupsBrowsedQueuePrintsAtExactSize) {
  // cups-browsed names the queue from the service and keeps the printer's address to itself;
  // the printer also announces itself over TLS, which cups-browsed (and the helper) then use,
  // trusting its self-signed certificate on first use as CUPS does.
  auto printer = rig.addPrinter("studio", "Studio Photo");
  rig.startCupsBrowsed();
  ASSERT_EQ(rig.waitForQueue("Studio_Photo"), "implicitclass://Studio_Photo/");
  printRulers("Studio_Photo", printer, "cups-browsed implicitclass:// queue");
}

TEST_F(DesktopQueues, PrintersPanelDnssdQueuePrintsAtExactSize) {
  // The Printers panel adds what CUPS' dnssd backend lists: the service name and its UUID.
  auto printer = rig.addPrinter("panel", "Panel Printer");
  auto found = testing::runProcess({"/usr/bin/ippfind", "-T", "2", "_ipp._tcp", "-N",
                                    "Panel Printer", "-x", "/bin/echo", "{txt_UUID}", ";"},
                                   rig.environment());
  const std::string uuid = found.out.substr(0, found.out.find('\n'));
  ASSERT_EQ(uuid.size(), 36u) << found.out << found.err;
  rig.addQueue("Panel_Printer", "dnssd://Panel%20Printer._ipp._tcp.local/?uuid=" + uuid);
  printRulers("Panel_Printer", printer, "Printers panel dnssd:// queue");
}

TEST_F(DesktopQueues, DriverlessServiceUriQueuePrintsAtExactSize) {
  auto printer = rig.addPrinter("driverless", "Driverless Printer");
  rig.addQueue("Driverless_Printer", "ipp://Driverless%20Printer._ipp._tcp.local/");
  printRulers("Driverless_Printer", printer, "driverless ipp://…._tcp… queue");
}

TEST_F(DesktopQueues, APrinterOnlyDiscoveredGetsTheTemporaryQueueCupsWouldMake) {
  // No queue at all: the dialog and the job use the temporary queue CUPS makes for a printer it
  // discovered, under the name CUPS gives it.
  auto printer = rig.addPrinter("lab", "Lab Printer");
  ASSERT_FALSE(findPrinter("Lab_Printer"));
  discoveredOnly.insert("Lab_Printer");
  printRulers("Lab_Printer", printer, "discovered only (CUPS temporary queue)");
  EXPECT_EQ(rig.waitForQueue("Lab_Printer"), "ipps://Lab%20Printer._ipps._tcp.local./");
}

TEST_F(DesktopQueues, AnIppsPrinterIsTrustedOnFirstUseAndRefusedWhenItsCertificateChanges) {
  // Its first certificate (made at its first TLS connection) is kept aside; the one it makes
  // when started again is newer.
  auto first = rig.addPrinter("secure", "Secure Printer");
  testing::runProcess({"/usr/bin/ipptool", "-q", "-T", "3",
                       "ipps://127.0.0.1:" + std::to_string(first.port) + "/ipp/print",
                       "get-printer-attributes.test"},
                      rig.environment());
  rig.stopPrinter("secure");
  ASSERT_FALSE(std::filesystem::is_empty(rig.printerKeys("secure")));
  const std::string older = dir.file("older-keys");
  std::filesystem::rename(rig.printerKeys("secure"), older);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  auto printer = rig.addPrinter("secure", "Secure Printer");
  rig.addQueue("Secure_Printer", "ipps://Secure%20Printer._ipps._tcp.local/");
  printRulers("Secure_Printer", printer, "ipps:// queue, self-signed certificate");

  // The same printer showing its older certificate: as for CUPS' own backend, only the one
  // trusted on first use, or a newer one for the same name, is trusted.
  rig.stopPrinter("secure");
  std::filesystem::remove_all(rig.printerKeys("secure"));
  std::filesystem::rename(older, rig.printerKeys("secure"));
  rig.addPrinter("secure", "Secure Printer");
  savePreset("Secure_Printer");
  const size_t before = CupsRig::keptJobsIn(printer.jobs).size();
  json result = printRuler("Secure_Printer");
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"], printerNotTrusted("Secure_Printer")) << lastError;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(CupsRig::keptJobsIn(printer.jobs).size(), before);
}

TEST_F(DesktopQueues, TwoPrintersBehindOneCupsBrowsedQueueAreRefused) {
  // cups-browsed gives both the queue name Studio_Photo and makes one queue for the two.
  auto first = rig.addPrinter("first", "Studio Photo");
  auto second = rig.addPrinter("second", "Studio-Photo");
  rig.startCupsBrowsed();
  rig.waitForQueue("Studio_Photo");
  savePreset("Studio_Photo");
  json result = printRuler("Studio_Photo");
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"],
            "Several printers on the network answer to \"Studio_Photo\" (\"Studio Photo\", "
            "\"Studio-Photo\"), so it is not certain which one would print. Add the printer you "
            "mean in the Printers settings by its ipp:// address and print to that queue.");
  expectNothingSent(first);
  expectNothingSent(second);
  EXPECT_EQ(queueJobs("Studio_Photo"), 0u);
}

TEST_F(DesktopQueues, AQueueWhosePrinterIsGoneIsRefusedInBoundedTime) {
  auto printer = rig.addPrinter("gone", "Gone Printer");
  rig.addQueue("Gone_Printer", "dnssd://Gone%20Printer._ipp._tcp.local/");
  savePreset("Gone_Printer");
  rig.stopPrinter("gone");
  // Until its goodbye has gone round, Avahi still answers for it (then it is unreachable).
  for (int i = 0; i < 50 && testing::runProcess({"/usr/bin/ippfind", "-T", "1", "_ipp._tcp", "-N",
                                                 "Gone Printer", "-q"},
                                                rig.environment())
                                    .exitStatus == 0;
       ++i) {
  }
  const auto start = std::chrono::steady_clock::now();
  json result = printRuler("Gone_Printer");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"],
            "The printer behind \"Gone_Printer\" could not be found on the network, so the artwork "
            "could not be sent at exact size. Make sure the printer is switched on and connected, "
            "then try again; if it stays hidden, add it in the Printers settings by its ipp:// "
            "address and print to that queue.");
  // CUPS would wait 75 s for the name.
  EXPECT_LT(took, std::chrono::seconds(20));
  EXPECT_EQ(queueJobs("Gone_Printer"), 0u);
}

TEST_F(DesktopQueues, APrinterWhoseMarginsChangedIsRefusedWithThePaperSentence) {
  auto printer = rig.addPrinter("changed", "Changed Printer");
  rig.addQueue("Changed_Printer", "dnssd://Changed%20Printer._ipp._tcp.local/");
  savePreset("Changed_Printer");
  // Switched on again with wider A4 margins: the queue still describes the old ones.
  const std::string wider = dir.write(
      "wider.attrs",
      firmwareWith("MEMBER integer media-top-margin 600", "MEMBER integer media-top-margin 900"));
  rig.addPrinter("changed", "Changed Printer", wider);
  json result = printRuler("Changed_Printer");
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["error"], kPaperChanged) << lastError;
  expectNothingSent(printer);
}

TEST_F(DesktopQueues, BadAnswersFromTheNetworkOrThePrinterAreRefusedBeforeAnyJob) {
  auto printer = rig.addPrinter("odd", "Odd Printer");
  rig.addQueue("Odd_Printer", "dnssd://Odd%20Printer._ipp._tcp.local/");
  savePreset("Odd_Printer");
  struct Case {
    const char* what;
    std::string from, to;
    std::string sentence;
  };
  const std::vector<Case> cases = {
      // Neither the papers it knows nor those loaded (either would place the sheet).
      {"no media-col-database", "ATTR collection media-col-", "ATTR collection vardelle-unknown-",
       "The printer behind \"Odd_Printer\" does not list its paper sizes with their margins "
       "(media-col-database), so the artwork cannot be placed at exact size. Nothing was sent to "
       "it."},
      {"a sheet without size", "MEMBER integer x-dimension 21000", "MEMBER integer x-dimension 0",
       "The printer behind \"Odd_Printer\" describes its paper with impossible values (a sheet "
       "without a size, or margins that leave nothing to print on), so the artwork cannot be "
       "placed at exact size. Nothing was sent to it."},
      {"margins wider than the sheet", "MEMBER integer media-left-margin 300",
       "MEMBER integer media-left-margin 30000",
       "The printer behind \"Odd_Printer\" describes its paper with impossible values (a sheet "
       "without a size, or margins that leave nothing to print on), so the artwork cannot be "
       "placed at exact size. Nothing was sent to it."},
      {"another make and model", "\"Vardelle Firmware Printer\"", "\"Other Firmware Printer\"",
       "The printer found on the network for \"Odd_Printer\" (\"Odd Printer\") is not the one the "
       "queue was made for: it is a \"Other Firmware Printer\", the queue is for a \"Vardelle "
       "Printer\". Nothing was sent. Add the printer in the Printers settings by its "
       "ipp:// address and print to that queue."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rig.addPrinter("odd", "Odd Printer", dir.write("odd.attrs", firmwareWith(c.from, c.to)));
    json result = printRuler("Odd_Printer");
    EXPECT_EQ(result["ok"], false);
    EXPECT_EQ(result["error"], c.sentence) << lastError;
    expectNothingSent(printer);
  }

  // An unresolvable service name, and a DNS-SD answer for another printer than the queue's.
  const std::string ppd = testing::readFile(rig.folder() + "/rig/cups/ppd/Odd_Printer.ppd");
  const std::string copy = dir.write("odd.ppd", ppd);
  ASSERT_EQ(testing::runProcess({"/usr/sbin/lpadmin", "-p", "Nobody", "-E", "-v",
                                 "dnssd://Nobody%20Here._ipp._tcp.local/", "-P", copy},
                                rig.environment())
                .exitStatus,
            0);
  savePreset("Nobody");
  json result = printRuler("Nobody");
  EXPECT_EQ(result["ok"], false);
  EXPECT_NE(result.value("error", "").find("\"Nobody\" could not be found on the network"),
            std::string::npos)
      << result.dump();

  rig.addPrinter("odd", "Odd Printer");
  ASSERT_EQ(testing::runProcess(
                {"/usr/sbin/lpadmin", "-p", "Odd_Elsewhere", "-E", "-v",
                 "dnssd://Odd%20Printer._ipp._tcp.local/?uuid=00000000-1111-3222-8333-444444444444",
                 "-P", copy},
                rig.environment())
                .exitStatus,
            0);
  savePreset("Odd_Elsewhere");
  result = printRuler("Odd_Elsewhere");
  EXPECT_EQ(result["ok"], false);
  EXPECT_NE(
      result.value("error", "")
          .find("is not the one the queue was made for: DNS-SD announces it with another identity"),
      std::string::npos)
      << result.dump();
  expectNothingSent(printer);
}

TEST_F(DesktopQueues, APrinterVanishingDuringTheJobEndsWithWhereTheJobWent) {
  auto printer = rig.addPrinter("vanish", "Vanishing Printer");
  rig.addQueue("Vanishing_Printer", "dnssd://Vanishing%20Printer._ipp._tcp.local/");
  savePreset("Vanishing_Printer");
  // A photograph whose samples do not compress: the document takes a while to arrive, and the
  // printer is switched off the moment it starts receiving it.
  testing::PngOptions photo;
  photo.width = 2200;
  photo.height = 3000;
  photo.pixelsPerMeterX = photo.pixelsPerMeterY = testing::pixelsPerMeter(300);
  photo.sample = [](uint32_t x, uint32_t y, int c) {
    uint32_t v = x * 2654435761u ^ (y + 0x9e3779b9u * static_cast<uint32_t>(c + 1));
    v ^= v >> 15;
    v *= 2246822519u;
    return static_cast<unsigned>(v >> 24);
  };
  json r = request("Vanishing_Printer");
  r["filePath"] = dir.write("photo.png", testing::makePng(photo));
  std::atomic<bool> switchedOff = false;
  std::thread power([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator(printer.jobs, ec)) {
        if (entry.is_regular_file(ec)) {
          ::kill(rig.printerProcess("vanish"), SIGKILL);
          switchedOff = true;
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  json result = run("print", r);
  const auto took = std::chrono::steady_clock::now() - start;
  power.join();
  ASSERT_TRUE(switchedOff);
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(
      result["error"],
      std::string(kStoppedAnswering) + kCheckPrintQueue +
          deviceJobWhereabouts("ipp://localhost:" + std::to_string(printer.port) + "/ipp/print"))
      << lastError;
  EXPECT_LT(took, std::chrono::seconds(40));
  EXPECT_EQ(queueJobs("Vanishing_Printer"), 0u);
  rig.stopPrinter("vanish");
}

// A photo printer that lists A4 with margins and without, behind the queues a desktop makes.
class Borderless : public DesktopQueues {
 protected:
  DesktopRig::Printer addPhotoPrinter(const std::string& key, const std::string& service) {
    return rig.addPrinter(
        key, service,
        std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/borderless-firmware.attrs");
  }

  // A4 (Borderless) saved (through the dialog, which starts there), then the whole sheet printed
  // at offset 0, its squares a millimetre from the edges: any margin the printer kept would cut
  // them.
  void printBorderless(const std::string& queue, const DesktopRig::Printer& printer) {
    SCOPED_TRACE(queue);
    savePreset(queue, "A4.Borderless");
    if (!discoveredOnly.count(queue)) {
      json saved = saveSettings(request(queue));
      ASSERT_EQ(saved["ok"], true) << saved.dump() << lastError;
      EXPECT_NE(saved["summary"]["paperName"].get<std::string>().find("(Borderless)"),
                std::string::npos)
          << saved.dump();
    }
    const artwork::PaperGeometry paper = paperOf(json::parse(testing::readFile(preset(queue))));
    EXPECT_EQ(paper.imageableWidth, paper.width);

    const double w = 595.2756, h = 841.8898, inset = 3;
    const size_t before = CupsRig::keptJobsIn(printer.jobs).size();
    json r = request(queue);
    r["filePath"] = dir.write("sheet.pdf", testing::placedRulerPdf(w, h, inset));
    json result = run("print", r);
    ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
    auto jobs = waitForJobs(printer.jobs, before + 1);
    ASSERT_EQ(jobs.size(), before + 1);
    const std::string col = jobs.back().attributes.at("IPP_MEDIA_COL");
    std::printf("%s: the printer received media-col %s\n", queue.c_str(), col.c_str());
    for (const char* member : {"media-bottom-margin=0 ", "media-left-margin=0 ",
                               "media-right-margin=0 ", "media-top-margin=0}"}) {
      EXPECT_NE(col.find(member), std::string::npos) << member << " in " << col;
    }
    EXPECT_EQ(jobs.back().attributes.at("IPP_PRINT_SCALING"), "none");
    auto image = testing::decodePng(testing::readFile(jobs.back().file + "-page1.png"));
    ASSERT_TRUE(image);
    const auto placed = artwork::placement({w, h}, 100, paper, 0, 0);
    const auto landing = testing::measurePlacedRuler(*image, kDpi, placed, w, h, false, inset);
    ASSERT_TRUE(landing.missing.empty()) << landing.missing;
    std::printf("%s borderless A4: worst square error %.4f mm, scale %.6f\n", queue.c_str(),
                landing.worstErrorMm, landing.scale);
    EXPECT_LE(landing.worstErrorMm, 0.06);
    EXPECT_NEAR(landing.scale, 1, 0.0005);
  }
};

TEST_F(Borderless, ABorderlessSheetReachesThePrinterWithoutMarginsThroughTheDesktopsQueues) {
  auto studio = addPhotoPrinter("photo", "Photo Studio");
  auto found = testing::runProcess({"/usr/bin/ippfind", "-T", "2", "_ipp._tcp", "-N",
                                    "Photo Studio", "-x", "/bin/echo", "{txt_UUID}", ";"},
                                   rig.environment());
  const std::string uuid = found.out.substr(0, found.out.find('\n'));
  ASSERT_EQ(uuid.size(), 36u) << found.out << found.err;
  // cups-browsed makes no queue of its own for a printer that already has one.
  rig.startCupsBrowsed();
  ASSERT_EQ(rig.waitForQueue("Photo_Studio"), "implicitclass://Photo_Studio/");
  rig.addQueue("Panel_Photo", "dnssd://Photo%20Studio._ipp._tcp.local/?uuid=" + uuid);
  printBorderless("Photo_Studio", studio);
  printBorderless("Panel_Photo", studio);
}

TEST_F(Borderless, ABorderlessSheetReachesAPrinterOnlyDiscoveredWithoutMargins) {
  // Its temporary queue is made by a first save through the dialog, which lists such a queue's
  // papers its own way: the borderless preset is then saved without the dialog.
  auto lab = addPhotoPrinter("lab", "Photo Lab");
  discoveredOnly.insert("Photo_Lab");
  json first = saveSettings(request("Photo_Lab"));
  ASSERT_EQ(first["ok"], true) << first.dump() << lastError;
  printBorderless("Photo_Lab", lab);
}

// A printer's normal life: switched off overnight and on again, its queue made again by
// cups-browsed or CUPS, another printer under its name. The preset names the printer by the
// identifier an application reads as the README says.
class LastingPresets : public DesktopQueues {
 protected:
  void SetUp() override { byPrinter = true; }

  // Waits until cupsd has no queue `queue` (cups-browsed removes a vanished printer's queue).
  static bool waitForNoQueue(const std::string& queue) {
    for (int i = 0; i < 600; ++i) {
      if (!findPrinter(queue)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // Settings saved through the dialog on `queue`: the preset's identifier is the printer's own
  // UUID, not the queue's.
  artwork::PaperGeometry saveThroughDialog(const std::string& queue) {
    json saved = saveSettings(request(queue));
    EXPECT_EQ(saved["ok"], true) << saved.dump() << lastError;
    const json file = json::parse(testing::readFile(preset(queue)));
    const std::string id = file.value("printerId", "");
    EXPECT_TRUE(id.starts_with("urn:uuid:")) << id;
    if (std::optional<PrinterRecord> record = findPrinter(queue)) {
      EXPECT_NE(id, record->identifier);
    }
    return paperOf(file);
  }

  std::string queueIdentifier(const std::string& queue) {
    std::optional<PrinterRecord> record = findPrinter(queue);
    return record ? record->identifier : "";
  }
};

TEST_F(LastingPresets, APresetOutlivesCupsBrowsedMakingTheQueueAgain) {
  auto printer = rig.addPrinter("studio", "Studio Photo");
  rig.startCupsBrowsed();
  ASSERT_EQ(rig.waitForQueue("Studio_Photo"), "implicitclass://Studio_Photo/");
  const artwork::PaperGeometry paper = saveThroughDialog("Studio_Photo");
  const std::string first = queueIdentifier("Studio_Photo");

  // Switched off: cups-browsed removes the queue; on again: it makes a new one.
  rig.stopPrinter("studio");
  ASSERT_TRUE(waitForNoQueue("Studio_Photo"));
  rig.addPrinter("studio", "Studio Photo");
  ASSERT_EQ(rig.waitForQueue("Studio_Photo"), "implicitclass://Studio_Photo/");
  ASSERT_NE(queueIdentifier("Studio_Photo"), first);
  printExactRuler("Studio_Photo", printer, "cups-browsed queue made again", paper, false);

  // A preset that named the first queue by its own printer-uuid, as applications did: that
  // queue is gone, and so is its identifier.
  byPrinter = false;
  NativeSnapshot saved =
      decodeSnapshot(testing::readFile(preset("Studio_Photo")), preset("Studio_Photo"));
  saved.printerId = first;
  dir.write("Studio_Photo-preset.json", saved.toFileBytes());
  json r = request("Studio_Photo");
  r["printerId"] = first;
  r["filePath"] = dir.write("ruler.pdf", testing::placedRulerPdf(500, 700));
  json refused = run("print", r);
  EXPECT_EQ(refused["error"],
            "The native printer identity does not match this preset. Refresh the printer list "
            "and save Printer Settings again.");
}

TEST_F(LastingPresets, APrintersPanelQueueIsNamedByThePrinterItsUriNames) {
  // The preset names the printer by the UUID in the queue's dnssd:// URI, which a queue added
  // again for the same printer keeps. (Removing a queue here brings CUPS 2.4.2's cupsd down, as
  // for a temporary queue, so the queue is not removed.)
  auto printer = rig.addPrinter("panel", "Panel Printer");
  const std::string uuid = applicationPrinterId("Panel_Printer");
  ASSERT_TRUE(uuid.starts_with("urn:uuid:")) << uuid;
  rig.addQueue("Panel_Printer", "dnssd://Panel%20Printer._ipp._tcp.local/?uuid=" + uuid.substr(9));
  ASSERT_EQ(applicationPrinterId("Panel_Printer"), uuid);
  ASSERT_NE(queueIdentifier("Panel_Printer"), uuid);
  const artwork::PaperGeometry paper = saveThroughDialog("Panel_Printer");
  printExactRuler("Panel_Printer", printer, "Printers panel queue named by its printer", paper,
                  false);
}

TEST_F(LastingPresets, AnotherPrinterTakingOverTheNameIsRefused) {
  // The same make and model, the same service name, another printer (another UUID in its
  // DNS-SD record): cups-browsed makes its queue under the old name.
  rig.addPrinter("first", "Studio Photo");
  rig.startCupsBrowsed();
  rig.waitForQueue("Studio_Photo");
  savePreset("Studio_Photo");
  NativeSnapshot saved =
      decodeSnapshot(testing::readFile(preset("Studio_Photo")), preset("Studio_Photo"));
  saved.printerId = applicationPrinterId("Studio_Photo");
  dir.write("Studio_Photo-preset.json", saved.toFileBytes());
  json r = request("Studio_Photo");
  r["filePath"] = dir.write("ruler.pdf", testing::placedRulerPdf(500, 700));

  rig.stopPrinter("first");
  ASSERT_TRUE(waitForNoQueue("Studio_Photo"));
  auto other = rig.addPrinter("second", "Studio Photo");
  rig.waitForQueue("Studio_Photo");
  ASSERT_NE(applicationPrinterId("Studio_Photo"), *saved.printerId);
  json refused = run("print", r);
  EXPECT_EQ(refused["ok"], false);
  EXPECT_EQ(refused["error"],
            "The native printer identity does not match this preset. Refresh the printer list "
            "and save Printer Settings again.")
      << lastError;
  expectNothingSent(other);
  EXPECT_EQ(queueJobs("Studio_Photo"), 0u);
}

TEST_F(LastingPresets, ATemporaryQueueGoneBeforeThePrintIsMadeAgain) {
  // CUPS forgets a temporary queue (after a minute idle, or when it restarts) between the
  // settings and the print.
  auto printer = rig.addPrinter("lab", "Lab Printer");
  discoveredOnly.insert("Lab_Printer");
  const artwork::PaperGeometry paper = saveThroughDialog("Lab_Printer");
  const std::string first = queueIdentifier("Lab_Printer");
  ASSERT_FALSE(first.empty());
  rig.restartCupsd();
  ASSERT_FALSE(findPrinter("Lab_Printer"));
  printExactRuler("Lab_Printer", printer, "temporary queue made again before the print", paper,
                  false);
  EXPECT_NE(queueIdentifier("Lab_Printer"), first);
}

TEST_F(LastingPresets, ATemporaryQueueGoneWhileTheDocumentWasMadeIsMadeAgainBeforeTheJob) {
  // The helper stops once the document is made (as a long conversion would keep it busy; the
  // pause point is preloaded into it), CUPS forgets the temporary queue, and the helper goes on.
  auto printer = rig.addPrinter("lab", "Lab Printer");
  discoveredOnly.insert("Lab_Printer");
  const artwork::PaperGeometry paper = saveThroughDialog("Lab_Printer");
  std::string during;
  bool stopped = false;
  auto restartWhileStopped = [&](int pid) {
    for (int i = 0; i < 1200 && !stopped; ++i) {
      const std::string stat = testing::readFile("/proc/" + std::to_string(pid) + "/stat");
      const size_t state = stat.rfind(')');
      stopped = state != std::string::npos && stat.size() > state + 2 && stat[state + 2] == 'T';
      if (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (stopped) {
      during = queueIdentifier("Lab_Printer");
      rig.restartCupsd();
    }
    ::kill(pid, SIGCONT);
  };
  printExactRuler("Lab_Printer", printer, "temporary queue made again before Create-Job", paper,
                  false,
                  {{"LD_PRELOAD", VARDELLE_PAUSE_POINT}, {"VARDELLE_TEST_PAUSE", "document-made"}},
                  restartWhileStopped);
  EXPECT_TRUE(stopped) << lastError;
  EXPECT_FALSE(during.empty());
  EXPECT_NE(queueIdentifier("Lab_Printer"), during);
}

// Straight to a driverless printer, the copies, their collation and the sides are the printer's
// to make: the job says them in IPP's words.
class Copies : public DesktopQueues {};

TEST_F(Copies, ADriverlessPrinterGetsTheSavedCopiesCollationAndSidesInIppsWords) {
  const std::string twoSided =
      dir.write("duplex.attrs",
                firmwareWith("ATTR keyword sides-supported \"one-sided\"",
                             "ATTR keyword sides-supported \"one-sided\",\"two-sided-long-edge\","
                             "\"two-sided-short-edge\""));
  auto printer = rig.addPrinter("duplex", "Duplex Printer", twoSided);
  rig.addQueue("Duplex_Printer", "ipp://Duplex%20Printer._ipp._tcp.local/");
  std::optional<QueuePpd> ppd = QueuePpd::forQueue("Duplex_Printer");
  ASSERT_TRUE(ppd && ppd->hasChoice("Duplex", "DuplexNoTumble"));
  PrintSettings settings("Duplex_Printer");
  ASSERT_TRUE(settings.setOption(PrintSettings::kPageSize, "A4"));
  ASSERT_TRUE(settings.setOption(PrintSettings::kMedia, "iso_a4_210x297mm"));
  ASSERT_TRUE(settings.setOption("Duplex", "DuplexNoTumble"));
  ASSERT_TRUE(settings.setOption("Collate", "True"));
  dir.write("Duplex_Printer-preset.json", testing::savedSnapshot(settings, true).toFileBytes());

  json r = request("Duplex_Printer");
  r["filePath"] = dir.write("ruler.pdf", testing::placedRulerPdf(500, 700));
  r["copies"] = 2;
  json result = run("print", r);
  ASSERT_EQ(result["ok"], true) << result.dump() << lastError;
  auto jobs = waitForJobs(printer.jobs, 1);
  ASSERT_EQ(jobs.size(), 1u);
  const auto& attributes = jobs[0].attributes;
  EXPECT_EQ(attributes.at("IPP_SIDES"), "two-sided-long-edge");
  EXPECT_EQ(attributes.at("IPP_COPIES"), "2");
  EXPECT_EQ(attributes.at("IPP_MULTIPLE_DOCUMENT_HANDLING"), "separate-documents-collated-copies");
  // The document holds one copy: the printer makes the other.
  EXPECT_EQ(testing::readFile(jobs[0].file + ".render"), "page 1 none scale 1\n");
}

}  // namespace
}  // namespace vardelle::printing
