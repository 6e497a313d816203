#include "app/helper_main.h"

#include <new>
#include <string>

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

namespace vardelle::app {

namespace {

constexpr const char* kUnknownFailure = "The operation failed for an unknown reason.";

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
  installCrashGuard(crashSentenceFor(mode, request));

  if (mode == "settings" || mode == "print") {
    runInApplicationLoop([mode, request] {
      checkRouting(mode, request);
      return engine(mode).perform(mode, request);
    });
  }
  // The commands that read the user's file without a dialog or a printer run bounded; the
  // application loop (GTK, CUPS' threads) keeps the process's own limits.
  limitResources();
  runWithLargeStack([&] {
    finish(resultOf([&] {
      checkRouting(mode, request);
      return performCommand(mode, request);
    }));
  });
  finish(HelperResult::failure(kUnknownFailure));
}

}  // namespace vardelle::app
