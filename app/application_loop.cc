#include "app/application_loop.h"

#include <glib.h>

#include <memory>
#include <string>

#include "app/finish.h"
#include "app/helper_main.h"
#include "base/module_loader.h"
#include "base/print_failure.h"

namespace vardelle::app {

namespace {

// GLib is bound here, when settings or print start their loop, not when the helper starts: every
// other command would pay a millisecond to load it for nothing. GTK, loaded later by the dialog,
// finds this same library already loaded and so runs on the same default main context.
struct GLibLoop {
  decltype(&g_main_loop_new) loopNew = nullptr;
  decltype(&g_main_loop_unref) loopUnref = nullptr;
  decltype(&g_main_loop_run) loopRun = nullptr;
  decltype(&g_idle_add_full) idleAdd = nullptr;
};

const GLibLoop& glib() {
  static const GLibLoop api = [] {
    RuntimeLibrary library({"libglib-2.0.so.0"});
    if (!library.loaded()) {
      throw PrintFailure("GLib could not be loaded: " + library.reason() + ".");
    }
    GLibLoop bound;
    library.bind("g_main_loop_new", bound.loopNew);
    library.bind("g_main_loop_unref", bound.loopUnref);
    library.bind("g_main_loop_run", bound.loopRun);
    library.bind("g_idle_add_full", bound.idleAdd);
    if (!library.missing().empty()) {
      throw PrintFailure("GLib could not be loaded: it has no " + library.missing() + ".");
    }
    return bound;
  }();
  return api;
}

struct MainLoopUnref {
  void operator()(GMainLoop* loop) const noexcept { glib().loopUnref(loop); }
};

}  // namespace

void runInApplicationLoop(std::function<HelperResult()> task) {
  HelperResult loaded = resultOf([] {
    glib();
    HelperResult ok;
    ok.ok = true;
    return ok;
  });
  if (!loaded.ok) finish(loaded);
  std::unique_ptr<GMainLoop, MainLoopUnref> loop(glib().loopNew(nullptr, FALSE));
  // The task finishes the process from inside the loop; nothing comes back through GLib.
  glib().idleAdd(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto& run = *static_cast<std::function<HelperResult()>*>(data);
        finish(resultOf(run));
      },
      &task, nullptr);
  glib().loopRun(loop.get());
  finish(
      HelperResult::failure("The native application loop stopped before the operation completed."));
}

}  // namespace vardelle::app
