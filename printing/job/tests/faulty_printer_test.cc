// `print` on the device route to firmware-like printers that fail: behind a proxy that resets,
// stalls or refuses in the middle of a job, a printer busy with other jobs, and an ipps printer
// whose certificate changes between connections. Each run must end in one sentence, with at
// most one job on the printer, cancelled where the printer still answers.

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printer_trust.h"
#include "printing/job/ipp_job.h"
#include "printing/job/route.h"
#include "testing/cups_rig.h"
#include "testing/desktop_rig.h"
#include "testing/faulty_proxy.h"
#include "testing/png_fixtures.h"
#include "testing/print_snapshot.h"
#include "testing/run_process.h"
#include "testing/temp_dir.h"

namespace vardelle::printing {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using testing::FaultyProxy;

constexpr const char* kA4 = "iso_a4_210x297mm";

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A photograph of noise, 4 × 3 inches at 300 dpi: about 1.4 MB that no compression shrinks, so
// that "halfway through the document" is many packets in.
std::string noisePng() {
  testing::PngOptions options;
  options.width = 1200;
  options.height = 900;
  options.pixelsPerMeterX = options.pixelsPerMeterY = testing::pixelsPerMeter(300);
  options.sample = [](uint32_t x, uint32_t y, int c) {
    uint32_t h = x * 0x9E3779B1u ^ (y * 0x85EBCA77u) ^ (uint32_t(c) * 0xC2B2AE3Du);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return unsigned(h >> 24);
  };
  return testing::makePng(options);
}

// The jobs a printer (ippeveprinter) holds, by id, with their states.
std::map<int, int> printerJobs(const std::string& uri) {
  char scheme[16], user[64], host[256], resource[256];
  int port = 0;
  httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user, host,
                  sizeof host, &port, resource, sizeof resource);
  http_t* http =
      httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
  if (!http) return {};
  std::map<int, int> jobs = testing::jobStates(http, uri, resource);
  httpClose(http);
  return jobs;
}

// Holds a printer busy as another computer's job would: a job created without its document,
// which single-job firmware (ippeveprinter) keeps as its active job until it is cancelled.
class HeldJob {
 public:
  explicit HeldJob(const std::string& uri) : uri_(uri) {
    http_ = httpConnect2("127.0.0.1", port(uri), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED,
                         1, 5000, nullptr);
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "other-computer");
    ipp_t* response = cupsDoRequest(http_, request, "/ipp/print");
    if (ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)) {
      id_ = ippGetInteger(id, 0);
    }
    ippDelete(response);
  }
  ~HeldJob() {
    release();
    if (http_) httpClose(http_);
  }
  int id() const { return id_; }
  void release() {
    if (id_ <= 0 || released_) return;
    released_ = true;
    ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id_);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "other-computer");
    ippDelete(cupsDoRequest(http_, request, "/ipp/print"));
  }

 private:
  static int port(const std::string& uri) { return std::atoi(uri.c_str() + uri.rfind(':') + 1); }
  std::string uri_;
  http_t* http_ = nullptr;
  int id_ = 0;
  bool released_ = false;
};

class FaultyPrinter : public ::testing::Test {
 protected:
  void save(const std::string& queue) {
    snapshot = testing::savedSnapshot(testing::paperSettings(queue, kA4, Orientation::portrait));
    dir.write("preset-" + queue + ".json", snapshot.toFileBytes());
  }
  json request(const std::string& queue) {
    if (artwork.empty()) artwork = dir.write("noise.png", noisePng());
    return {{"printerName", queue},
            {"printerId", *snapshot.printerId},
            {"snapshotPath", dir.file("preset-" + queue + ".json")},
            {"filePath", artwork},
            {"scalePercent", 100},
            {"pngDpi", 300}};
  }
  json print(const json& r, const std::map<std::string, std::string>& environment,
             const std::string& name = "request.json") {
    auto out = testing::runVardelle("print", dir.write(name, r.dump()), environment);
    try {
      json result = json::parse(out.out);
      result["exit"] = out.exitStatus;
      if (out.out.find('\n') + 1 != out.out.size()) ADD_FAILURE() << "not one line: " << out.out;
      return result;
    } catch (const json::exception&) {
      ADD_FAILURE() << "not one JSON line: " << out.out << "\n" << out.err;
      return json::object();
    }
  }

  testing::TempDir dir;
  NativeSnapshot snapshot;
  std::string artwork;
};

class FaultyPrinterBehindProxy : public FaultyPrinter {
 protected:
  void SetUp() override {
    printer = rig.addFirmwarePrinter("faulty");
    const int port = std::atoi(printer.uri.c_str() + printer.uri.rfind(':') + 1);
    proxy = std::make_unique<FaultyProxy>(port);
    proxyUri = "ipp://127.0.0.1:" + std::to_string(proxy->port()) + "/ipp/print";
    rig.setDeviceUri(printer.queue, proxyUri);
    save(printer.queue);
    // One job carried whole first: the printer works through the proxy, and the document's
    // size is known for "halfway".
    json first = print(request(printer.queue), rig.environment());
    ASSERT_EQ(first["ok"], true) << first.dump();
    documentBytes = proxy->lastDocumentBytes();
    ASSERT_GT(documentBytes, 1000000u);
    ASSERT_EQ(keptJobs(1), 1u);
  }

  // The jobs the printer has printed (kept), once `count` are there or 30 s have passed.
  size_t keptJobs(size_t count) const {
    auto kept = testing::CupsRig::keptJobsIn(printer.jobs);
    for (int i = 0; i < 300 && kept.size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kept = testing::CupsRig::keptJobsIn(printer.jobs);
    }
    return kept.size();
  }

  std::string lateFailure(const char* reason) const {
    return std::string(reason) + kCheckPrintQueue + deviceJobWhereabouts(proxyUri);
  }

  // The printer's second job, the one of the faulty run, once it has settled.
  int secondJobState() const {
    std::map<int, int> jobs;
    for (int i = 0; i < 100; ++i) {
      jobs = printerJobs(printer.uri);
      if (jobs.count(2) && jobs[2] >= IPP_JSTATE_CANCELED) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(jobs.size(), 2u) << "one job per run";
    return jobs.count(2) ? jobs[2] : 0;
  }

  // After the fault, the printer takes the next job whole: nothing of the failed run is left
  // keeping it busy, and the kept jobs are the good ones only.
  void nextPrintSucceeds() {
    proxy->setFault(FaultyProxy::Fault::none);
    json again = print(request(printer.queue), rig.environment());
    EXPECT_EQ(again["ok"], true) << again.dump();
    EXPECT_EQ(keptJobs(2), 2u);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(keptJobs(2), 2u) << "the failed run's job must not print";
    EXPECT_EQ(printerJobs(printer.uri).size(), 3u);
  }

  testing::CupsRig rig;
  testing::CupsRig::FirmwarePrinter printer;
  std::unique_ptr<FaultyProxy> proxy;
  std::string proxyUri;
  size_t documentBytes = 0;
};

TEST_F(FaultyPrinterBehindProxy, AConnectionResetHalfwayThroughTheDocumentCancelsTheJob) {
  proxy->setFault(FaultyProxy::Fault::resetDocument, documentBytes / 2);
  const auto start = Clock::now();
  json result = print(request(printer.queue), rig.environment());
  std::printf("reset halfway: %.1f s, %s\n", secondsSince(start), result.dump().c_str());
  EXPECT_TRUE(proxy->struck());
  EXPECT_EQ(result["exit"], 1);
  EXPECT_EQ(result["error"], lateFailure(kStoppedAnswering));
  const int state = secondJobState();
  EXPECT_TRUE(state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED) << state;
  nextPrintSucceeds();
}

TEST_F(FaultyPrinterBehindProxy, APrinterThatStallsMidDocumentEndsAfterTheTimeout) {
  proxy->setFault(FaultyProxy::Fault::stallDocument, documentBytes / 2);
  const auto start = Clock::now();
  json result = print(request(printer.queue), rig.environment());
  const double took = secondsSince(start);
  std::printf("stall halfway: %.1f s, %s\n", took, result.dump().c_str());
  EXPECT_TRUE(proxy->struck());
  EXPECT_EQ(result["error"], lateFailure(kStoppedAnswering));
  EXPECT_LT(took, 30);
  // The cancel went over a new connection, which the proxy carries; the printer, still reading
  // the stalled document, marks the job and ends it when that connection goes.
  const auto operations = proxy->operations();
  EXPECT_EQ(operations.back(), "Cancel-Job");
  proxy.reset();
  const int state = secondJobState();
  EXPECT_TRUE(state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED) << state;
  EXPECT_EQ(testing::CupsRig::keptJobsIn(printer.jobs).size(), 1u);
}

TEST_F(FaultyPrinterBehindProxy, ARefusedDocumentCancelsTheJobItsCreateJobMade) {
  proxy->setFault(FaultyProxy::Fault::refuseDocument);
  const auto start = Clock::now();
  json result = print(request(printer.queue), rig.environment());
  std::printf("Send-Document refused: %.1f s, %s\n", secondsSince(start), result.dump().c_str());
  EXPECT_TRUE(proxy->struck());
  EXPECT_EQ(result["error"], lateFailure("macOS did not confirm a successful print operation."));
  // Left alone, the job without its document would keep single-job firmware busy for good.
  EXPECT_EQ(secondJobState(), IPP_JSTATE_CANCELED);
  nextPrintSucceeds();
}

class FaultyPrinterBusy : public FaultyPrinter {
 protected:
  testing::CupsRig rig;
};

TEST_F(FaultyPrinterBusy, SeveralPrintsAtOnceToOnePrinterAllPrintOnce) {
  // ippeveprinter, like much firmware, takes one job at a time and answers server-error-busy
  // while it prints.
  auto printer = rig.addFirmwarePrinter("busy");
  save(printer.queue);
  constexpr int kPrints = 8;
  std::vector<std::future<json>> runs;
  const auto start = Clock::now();
  const json r = request(printer.queue);
  for (int i = 0; i < kPrints; ++i) {
    runs.push_back(std::async(std::launch::async, [&, i] {
      return print(r, rig.environment(), "request-" + std::to_string(i) + ".json");
    }));
  }
  int submitted = 0;
  for (auto& run : runs) {
    json result = run.get();
    EXPECT_EQ(result["ok"], true) << result.dump();
    submitted += result.value("submitted", false) ? 1 : 0;
  }
  std::printf("%d prints at once: %d submitted in %.1f s\n", kPrints, submitted,
              secondsSince(start));
  EXPECT_EQ(submitted, kPrints);
  auto kept = testing::CupsRig::keptJobsIn(printer.jobs);
  for (int i = 0; i < 300 && kept.size() < size_t(kPrints); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kept = testing::CupsRig::keptJobsIn(printer.jobs);
  }
  EXPECT_EQ(kept.size(), size_t(kPrints));
  EXPECT_EQ(printerJobs(printer.uri).size(), size_t(kPrints));
}

TEST_F(FaultyPrinterBusy, APrinterHeldBusyIsWaitedForThenPrints) {
  auto printer = rig.addFirmwarePrinter("held");
  save(printer.queue);
  HeldJob held(printer.uri);
  ASSERT_GT(held.id(), 0);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    held.release();
  });
  const auto start = Clock::now();
  json result = print(request(printer.queue), rig.environment());
  const double took = secondsSince(start);
  releaser.join();
  std::printf("held busy for 5 s: %.1f s, %s\n", took, result.dump().c_str());
  EXPECT_EQ(result["ok"], true) << result.dump();
  EXPECT_GE(took, 5);
  EXPECT_EQ(printerJobs(printer.uri).size(), 2u);
}

TEST_F(FaultyPrinterBusy, APrinterStillBusyAfterTheLimitSaysNothingWasSent) {
  // The limit itself (kPrinterBusyLimit) is a minute; the same wait is asked here for three
  // seconds of a printer that stays busy.
  auto printer = rig.addFirmwarePrinter("stuck");
  HeldJob held(printer.uri);
  ASSERT_GT(held.id(), 0);
  std::optional<DeviceConnection> device = connectToDevice(printer.uri, "", TrustAsCupsDoes{});
  ASSERT_TRUE(device);
  JobTarget target = JobTarget::toPrinter(*device, "stuck");
  target.busyWait = std::chrono::seconds(3);
  const auto start = Clock::now();
  try {
    createCheckedJob(target, "artwork", {{"print-scaling", "none"}});
    ADD_FAILURE() << "a busy printer took the job";
  } catch (const PrintFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "The printer behind \"stuck\" was still busy with other work after 3 seconds of "
              "waiting, so nothing was sent to it. Try again once it has finished.");
  }
  const double took = secondsSince(start);
  EXPECT_GE(took, 1.5);
  EXPECT_LE(took, 4);
  EXPECT_EQ(printerJobs(printer.uri).size(), 1u) << "only the job holding it busy";
}

TEST_F(FaultyPrinterBusy, ARefusedJobSaysNothingWasSentNotThatItMayHaveStarted) {
  // A printer that answers Create-Job with an error has created nothing.
  auto printer = rig.addFirmwarePrinter("refusing");
  HeldJob held(printer.uri);
  std::optional<DeviceConnection> device = connectToDevice(printer.uri, "", TrustAsCupsDoes{});
  ASSERT_TRUE(device);
  // Busy is a refusal when nothing waits for it (the queue route).
  JobTarget target = JobTarget::toPrinter(*device, "refusing");
  target.busyWait = {};
  try {
    createCheckedJob(target, "artwork", {{"print-scaling", "none"}});
    ADD_FAILURE() << "a busy printer took the job";
  } catch (const PrintFailure& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "The printer refused the job, so nothing was sent to it.");
  }
}

class FaultyPrinterTls : public FaultyPrinter {
 protected:
  // A queue `name` made for `printer` by its ipps address, then reaching it through `proxy`.
  void queueBehind(const std::string& name, const testing::DesktopRig::Printer& printer,
                   const FaultyProxy& proxy) const {
    rig.addQueue(name, printer.uri);
    auto moved =
        testing::runProcess({"/usr/sbin/lpadmin", "-p", name, "-v",
                             "ipps://localhost:" + std::to_string(proxy.port()) + "/ipp/print"},
                            rig.environment());
    ASSERT_EQ(moved.exitStatus, 0) << moved.err;
  }

  // First: the rig moves this process into namespaces of its own (a private /etc/cups/ssl)
  // before any thread exists.
  testing::DesktopRig rig;
};

TEST_F(FaultyPrinterTls, ACertificateThatChangesBetweenConnectionsIsRefusedBeforeAnyJob) {
  // Two printers under one name with certificates of their own: the proxy takes the first
  // connection to the first and every later one to the second, as an impostor on the network
  // would. The second certificate is made a moment later, so libcups alone would take it for a
  // renewal of the first and trust it.
  auto first = rig.addPrinter("first", "Printer One");
  auto second = rig.addPrinter("second", "Printer Two");
  for (const auto* printer : {&first, &second}) {
    testing::runProcess({"/usr/bin/ipptool", "-q", "-T", "3",
                         "ipps://127.0.0.1:" + std::to_string(printer->port) + "/ipp/print",
                         "get-printer-attributes.test"},
                        rig.environment());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  }
  FaultyProxy proxy(first.port, second.port);
  ASSERT_NO_FATAL_FAILURE(queueBehind("Switching", first, proxy));
  save("Switching");
  proxy.setFault(FaultyProxy::Fault::switchPrinter, 0, 1, /*plain=*/false);
  json result = print(request("Switching"), rig.environment());
  std::printf("certificate switched: %s\n", result.dump().c_str());
  EXPECT_TRUE(proxy.struck());
  EXPECT_EQ(result["error"], printerNotTrusted("Switching"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_TRUE(testing::CupsRig::keptJobsIn(first.jobs).empty());
  EXPECT_TRUE(testing::CupsRig::keptJobsIn(second.jobs).empty()) << "printed on the impostor";
  EXPECT_TRUE(printerJobs(first.uri).empty());
  EXPECT_TRUE(printerJobs(second.uri).empty());
}

TEST_F(FaultyPrinterTls, AConnectionDroppedWhileBusyIsReopenedAndCheckedBeforeItsRequest) {
  // The printer is busy: the helper waits on its open connection, which the network then
  // drops; the connection libcups would open again by itself for the next Create-Job reaches
  // the impostor.
  auto first = rig.addPrinter("first", "Printer One");
  auto second = rig.addPrinter("second", "Printer Two");
  FaultyProxy proxy(first.port, second.port);
  ASSERT_NO_FATAL_FAILURE(queueBehind("Dropping", first, proxy));
  save("Dropping");
  HeldJob held(first.uri);
  ASSERT_GT(held.id(), 0);
  // The first connection asks the printer's facts; the second, Create-Job's, is dropped.
  proxy.setFault(FaultyProxy::Fault::closeIdleThenSwitch, 0, 2, /*plain=*/false);
  json result = print(request("Dropping"), rig.environment());
  std::printf("dropped while busy, then another certificate: %s; %zu bytes to the other\n",
              result.dump().c_str(), proxy.bytesToSecond());
  EXPECT_TRUE(proxy.struck());
  EXPECT_EQ(result["error"], printerNotTrusted("Dropping"));
  // The new connection carried its handshake and nothing else.
  EXPECT_LT(proxy.bytesToSecond(), 4096u);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(printerJobs(first.uri).size(), 1u) << "only the job holding it busy";
  EXPECT_TRUE(printerJobs(second.uri).empty());
}

TEST_F(FaultyPrinterTls, ACertificateIsSavedOnlyOnceThePrinterIsConfirmedAsTheQueues) {
  // The queue was made for one printer; another make answers under its name. Its certificate,
  // trusted on first use for the handshake, must not be remembered as the printer's.
  rig.addPrinter("named", "Named Printer");
  rig.addQueue("Named_Printer", "dnssd://Named%20Printer._ipps._tcp.local/");
  save("Named_Printer");
  auto isSaved = [] {
    cups_array_t* saved = nullptr;
    const bool found = httpLoadCredentials(nullptr, &saved, "localhost") == 0 && saved;
    httpFreeCredentials(saved);
    return found;
  };
  // Whatever setting the queue up left in the store: the rig's own /etc/cups/ssl, private to
  // its mount namespace.
  std::filesystem::remove("/etc/cups/ssl/localhost.crt");
  ASSERT_FALSE(isSaved());

  std::string attributes =
      testing::readFile(std::string(VARDELLE_SOURCE_DIR) + "/testing/printer/firmware.attrs");
  const std::string model = "\"Vardelle Firmware Printer\"";
  for (size_t at = attributes.find(model); at != std::string::npos;
       at = attributes.find(model, at + 1)) {
    attributes.replace(at, model.size(), "\"Other Firmware Printer\"");
  }
  rig.addPrinter("named", "Named Printer", dir.write("other.attrs", attributes));
  json refused = print(request("Named_Printer"), rig.environment());
  EXPECT_NE(refused.value("error", "").find("is not the one the queue was made for"),
            std::string::npos)
      << refused.dump();
  EXPECT_FALSE(isSaved()) << "the certificate of a printer that is not the queue's was saved";

  // The queue's own printer again: its certificate is kept once it has answered as the queue's.
  rig.addPrinter("named", "Named Printer");
  json printed = print(request("Named_Printer"), rig.environment());
  EXPECT_EQ(printed["ok"], true) << printed.dump();
  EXPECT_TRUE(isSaved());
}

}  // namespace
}  // namespace vardelle::printing
