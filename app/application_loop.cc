#include "app/application_loop.h"

#include <glib.h>

#include <memory>

#include "app/finish.h"
#include "app/helper_main.h"

namespace vardelle::app {

namespace {

struct MainLoopUnref {
  void operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }
};

}  // namespace

void runInApplicationLoop(std::function<HelperResult()> task) {
  std::unique_ptr<GMainLoop, MainLoopUnref> loop(g_main_loop_new(nullptr, FALSE));
  // The task finishes the process from inside the loop; nothing comes back through GLib.
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto& run = *static_cast<std::function<HelperResult()>*>(data);
        finish(resultOf(run));
      },
      &task, nullptr);
  g_main_loop_run(loop.get());
  finish(
      HelperResult::failure("The native application loop stopped before the operation completed."));
}

}  // namespace vardelle::app
