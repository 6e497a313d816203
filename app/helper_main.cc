#include "app/helper_main.h"

#include <new>
#include <string>
#include <string_view>

#include "app/application_loop.h"
#include "app/crash_guard.h"
#include "app/engine.h"
#include "app/finish.h"
#include "app/routing.h"
#include "app/termination_signals.h"
#include "app/watchdog.h"
#include "base/artwork_format.h"
#include "base/files.h"
#include "base/print_failure.h"
#include "base/protocol_json.h"
#include "base/worker_threads.h"

namespace vardelle::app {

namespace {

constexpr const char* kUnknownFailure = "The operation failed for an unknown reason.";
// A print that spends its processor time may have created its job already.
constexpr const char* kPrintOutOfTime =
    "The artwork takes too long to draw. Simplify the page in the app that made it, then try "
    "again. Check Print Center before retrying; submission may already have started.";
static_assert(std::string_view(kPrintOutOfTime).starts_with(kTooLongToDrawSentence));

// What a crash inside a library most likely means for this run. A PDF run's libraries crash on
// the file; a print may have gone out before anything crashed.
const char* crashSentenceFor(const std::string& mode, const PrintRequest& request) {
  if (mode == "print") {
    return "The operation failed for an unknown reason. Check Print Center before retrying; "
           "submission may already have started.";
  }
  if (request.filePath && artworkFormatOf(*request.filePath) == ArtworkFormat::pdf) {
    return kUnreadablePdfSentence;
  }
  return kUnknownFailure;
}

}  // namespace

HelperResult resultOf(const std::function<HelperResult()>& command) {
  // The one place where a failure becomes the result line.
  try {
    return command();
  } catch (const std::bad_alloc&) {
    return HelperResult::failure("There was not enough memory to finish this operation.");
  } catch (const std::exception& e) {
    return HelperResult::failure(e.what());
  } catch (...) {
    return HelperResult::failure(kUnknownFailure);
  }
}

void PrintHelperMain::main(int argc, char** argv) {
  useSmallThreadStacks();
  blockTerminationSignals();
  reserveStandardOutput();
  installCrashGuard(kUnknownFailure);
  std::string mode;
  std::string requestPath;
  std::string requestBytes;
  HelperResult early = resultOf([&] {
    if (argc != 3) {
      throw PrintFailure(
          "Usage: vardelle <settings|inspect|preview|thumbnail|print> <absolute request-json "
          "path>");
    }
    mode = argv[1];
    requestPath = argv[2];
    startTerminationSignalThread(mode);
    startParentWatchdog(mode);
    requireAbsolutePath(requestPath, "Request");
    requestBytes = readWholeFile(requestPath);
    HelperResult ok;
    ok.ok = true;
    return ok;
  });
  if (!early.ok) finish(early);

  const std::string where = "the request file \xE2\x80\x9C" + requestPath + "\xE2\x80\x9D";
  if (mode == "profile-paths") finish(resultOf([&] { return engine(mode).profilePaths(); }));
  if (mode == "inspect-profile") {
    finish(resultOf(
        [&] { return engine(mode).inspectProfile(decodeProfileRequest(requestBytes, where)); }));
  }
  PrintRequest request;
  HelperResult decoded = resultOf([&] {
    request = decodePrintRequest(requestBytes, where);
    HelperResult ok;
    ok.ok = true;
    return ok;
  });
  if (!decoded.ok) finish(decoded);
  requestBytes.clear();
  installCrashGuard(crashSentenceFor(mode, request),
                    mode == "print" ? kPrintOutOfTime : kTooLongToDrawSentence);

  // Every command runs under the memory limit. The dialog waits for a person, and spends what
  // processor time GTK needs while it is open: only the commands that run unattended get the
  // processor-time limit, and those that read the user's file a large stack.
  limitMemory();
  if (mode == "settings") {
    runInApplicationLoop([mode, request] {
      checkRouting(mode, request);
      return engine(mode).perform(mode, request);
    });
  }
  limitProcessorTime();
  if (mode == "print") {
    runWithLargeStack([&] {
      runInApplicationLoop([mode, request] {
        checkRouting(mode, request);
        return engine(mode).perform(mode, request);
      });
    });
  }
  runWithLargeStack([&] {
    finish(resultOf([&] {
      checkRouting(mode, request);
      return performCommand(mode, request);
    }));
  });
  finish(HelperResult::failure(kUnknownFailure));
}

}  // namespace vardelle::app
