#include "app/application_loop.h"

#include <dlfcn.h>
#include <glib.h>

#include <memory>
#include <string>

#include "app/finish.h"
#include "app/helper_main.h"
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

template <typename T>
void bind(void* library, const char* name, T& slot) {
  slot = reinterpret_cast<T>(::dlsym(library, name));
  if (!slot) throw PrintFailure(std::string("GLib could not be loaded: it has no ") + name + ".");
}

const GLibLoop& glib() {
  static const GLibLoop api = [] {
    void* library = ::dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* reason = ::dlerror();
      throw PrintFailure(std::string("GLib could not be loaded: ") +
                         (reason ? reason : "it was not found") + ".");
    }
    GLibLoop bound;
    bind(library, "g_main_loop_new", bound.loopNew);
    bind(library, "g_main_loop_unref", bound.loopUnref);
    bind(library, "g_main_loop_run", bound.loopRun);
    bind(library, "g_idle_add_full", bound.idleAdd);
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
