#include "printing/dialog/settings_dialog_module.h"

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include "base/print_failure.h"

namespace vardelle::printing {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <typename T>
using Object = std::unique_ptr<T, ObjectUnref>;

struct WidgetDestroy {
  void operator()(GtkWidget* widget) const noexcept { gtk_widget_destroy(widget); }
};
using Window = std::unique_ptr<GtkWidget, WidgetDestroy>;

struct PaperSizeFree {
  void operator()(GtkPaperSize* size) const noexcept { gtk_paper_size_free(size); }
};
using PaperSize = std::unique_ptr<GtkPaperSize, PaperSizeFree>;

struct MainLoopUnref {
  void operator()(GMainLoop* loop) const noexcept { g_main_loop_unref(loop); }
};
using MainLoop = std::unique_ptr<GMainLoop, MainLoopUnref>;

struct ErrorFree {
  void operator()(GError* error) const noexcept { g_error_free(error); }
};

// A GLib timeout source, removed when it goes; its callback must keep returning
// G_SOURCE_CONTINUE so that the id stays valid until then.
class Timeout {
 public:
  Timeout(guint intervalMs, GSourceFunc callback, gpointer data)
      : id_(g_timeout_add(intervalMs, callback, data)) {}
  ~Timeout() { g_source_remove(id_); }
  Timeout(const Timeout&) = delete;
  Timeout& operator=(const Timeout&) = delete;

 private:
  guint id_;
};

constexpr const char* kNotInstalled = "The selected printer is no longer installed on this Mac.";
constexpr const char* kSaveSettings = "Save Settings";
// GTK keeps the printer's own options in its settings under this prefix.
constexpr std::string_view kCupsPrefix = "cups-";

void writeToStandardError(const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

// Standard output belongs to the result line and standard error to the one note a settings run
// may write, so GTK's routine complaints (no system bus, no colord, no Avahi) are dropped. Its
// criticals and errors are programming faults and still reach standard error.
GLogWriterOutput logToStandardError(GLogLevelFlags level, const GLogField* fields, gsize count,
                                    gpointer) {
  if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) == 0) return G_LOG_WRITER_HANDLED;
  gchar* text = g_log_writer_format_fields(level, fields, count, FALSE);
  writeToStandardError(text);
  writeToStandardError("\n");
  g_free(text);
  return G_LOG_WRITER_HANDLED;
}

void routeLogsToStandardError() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_writer_func(logToStandardError, nullptr, nullptr);
    g_set_print_handler([](const gchar* text) { writeToStandardError(text); });
  });
}

Orientation orientationOf(GtkPageOrientation orientation) {
  switch (orientation) {
    case GTK_PAGE_ORIENTATION_LANDSCAPE:
      return Orientation::landscape;
    case GTK_PAGE_ORIENTATION_REVERSE_LANDSCAPE:
      return Orientation::reverseLandscape;
    case GTK_PAGE_ORIENTATION_REVERSE_PORTRAIT:
      return Orientation::reversePortrait;
    default:
      return Orientation::portrait;
  }
}

GtkPageOrientation gtkOrientation(Orientation orientation) {
  switch (orientation) {
    case Orientation::landscape:
      return GTK_PAGE_ORIENTATION_LANDSCAPE;
    case Orientation::reverseLandscape:
      return GTK_PAGE_ORIENTATION_REVERSE_LANDSCAPE;
    case Orientation::reversePortrait:
      return GTK_PAGE_ORIENTATION_REVERSE_PORTRAIT;
    default:
      return GTK_PAGE_ORIENTATION_PORTRAIT;
  }
}

// A preset has no document, so the page-range controls mean nothing here, and scaling, page
// sets and pages per side would be overridden by the exact-size layout anyway: they are hidden.
// GTK's builder names its template's widgets, the one locale-independent way to find them.
constexpr const char* kHiddenWithParent[] = {"range_table", "scale_spin"};
constexpr const char* kHidden[] = {"page_set_combo", "pages_per_sheet", "number_up_layout"};

bool named(GtkWidget* widget, const char* const* names, size_t count) {
  const char* name =
      GTK_IS_BUILDABLE(widget) ? gtk_buildable_get_name(GTK_BUILDABLE(widget)) : nullptr;
  if (name == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(name, names[i]) == 0) return true;
  }
  return false;
}

void hideForGood(GtkWidget* widget) {
  gtk_widget_set_no_show_all(widget, TRUE);
  gtk_widget_hide(widget);
}

void forEachWidget(GtkWidget* widget, void (*visit)(GtkWidget*)) {
  visit(widget);
  if (!GTK_IS_CONTAINER(widget)) return;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* child = children; child != nullptr; child = child->next) {
    forEachWidget(static_cast<GtkWidget*>(child->data), visit);
  }
  g_list_free(children);
}

// GTK offers up to 9999 copies; a preset that saved more than a print request may ask for
// could never be printed as saved.
void capCopies(GtkWidget* dialog) {
  forEachWidget(dialog, [](GtkWidget* widget) {
    static constexpr const char* kCopies[] = {"copies_spin"};
    if (GTK_IS_SPIN_BUTTON(widget) && named(widget, kCopies, std::size(kCopies))) {
      gtk_spin_button_set_range(GTK_SPIN_BUTTON(widget), 1, kMaxDialogCopies);
    }
  });
}

void hideDocumentControls(GtkWidget* dialog) {
  forEachWidget(dialog, [](GtkWidget* widget) {
    if (named(widget, kHiddenWithParent, std::size(kHiddenWithParent))) {
      hideForGood(widget);
      hideForGood(gtk_widget_get_parent(widget));
    } else if (named(widget, kHidden, std::size(kHidden))) {
      hideForGood(widget);
    }
  });
  // The captions go with their controls.
  forEachWidget(dialog, [](GtkWidget* widget) {
    if (!GTK_IS_LABEL(widget)) return;
    GtkWidget* target = gtk_label_get_mnemonic_widget(GTK_LABEL(widget));
    if (target != nullptr && gtk_widget_get_no_show_all(target) &&
        !gtk_widget_get_visible(target)) {
      hideForGood(widget);
    }
  });
}

void collectTexts(GtkWidget* widget, std::vector<std::string>& texts) {
  if (!gtk_widget_get_visible(widget)) return;
  const char* text = nullptr;
  if (GTK_IS_BUTTON(widget)) {
    text = gtk_button_get_label(GTK_BUTTON(widget));
  } else if (GTK_IS_LABEL(widget)) {
    text = gtk_label_get_text(GTK_LABEL(widget));
  }
  if (text != nullptr && *text != '\0') texts.emplace_back(text);
  if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(
        GTK_CONTAINER(widget),
        [](GtkWidget* child, gpointer data) {
          collectTexts(child, *static_cast<std::vector<std::string>*>(data));
        },
        &texts);
  }
}

class OpenDialog final : public ShownDialog {
 public:
  explicit OpenDialog(GtkWidget* dialog) : dialog_(dialog) {}

  std::string defaultButtonLabel() const override {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_OK);
    if (button == nullptr || !GTK_IS_BUTTON(button)) return {};
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    return label ? label : "";
  }

  std::vector<std::string> visibleTexts() const override {
    std::vector<std::string> texts;
    collectTexts(dialog_, texts);
    return texts;
  }

  bool savePicture(const std::string& path) const override {
    GdkWindow* window = gtk_widget_get_window(dialog_);
    if (window == nullptr) return false;
    Object<GdkPixbuf> picture(gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                         gdk_window_get_height(window)));
    if (!picture) return false;
    GError* error = nullptr;
    const bool saved = gdk_pixbuf_save(picture.get(), path.c_str(), "png", &error, nullptr) == TRUE;
    std::unique_ptr<GError, ErrorFree> owned(error);
    return saved;
  }

  void close() const override { gtk_window_close(GTK_WINDOW(dialog_)); }

 private:
  GtkWidget* dialog_;
};

Object<GtkPrintSettings> startingSettings(const DialogStart& start) {
  Object<GtkPrintSettings> settings(gtk_print_settings_new());
  gtk_print_settings_set_printer(settings.get(), start.printerName.c_str());
  gtk_print_settings_set_n_copies(
      settings.get(), static_cast<gint>(std::clamp<int64_t>(start.copies, 1, kMaxDialogCopies)));
  gtk_print_settings_set_collate(settings.get(), start.collate ? TRUE : FALSE);
  for (const auto& [name, value] : start.options) {
    const std::string key = std::string(kCupsPrefix) + name;
    gtk_print_settings_set(settings.get(), key.c_str(), value.c_str());
  }
  return settings;
}

// A preset's saved paper is preselected through a page setup; fresh settings leave it unset so
// that the printer's own default paper is shown.
Object<GtkPageSetup> startingPageSetup(const DialogStart& start) {
  PaperSize paper;
  if (start.ppdName) {
    // Named as GTK's CUPS backend names the queue's own papers, so the dialog selects that
    // very entry and not another of the same size.
    paper.reset(gtk_paper_size_new_from_ppd(start.ppdName->c_str(), start.ppdDisplayName.c_str(),
                                            start.ppdWidthPt, start.ppdHeightPt));
  } else if (start.mediaName) {
    paper.reset(gtk_paper_size_new(start.mediaName->c_str()));
  } else if (start.paperWidthMm && start.paperHeightMm) {
    paper.reset(gtk_paper_size_new_custom("custom", "Custom", *start.paperWidthMm,
                                          *start.paperHeightMm, GTK_UNIT_MM));
  } else {
    return nullptr;
  }
  Object<GtkPageSetup> setup(gtk_page_setup_new());
  gtk_page_setup_set_paper_size(setup.get(), paper.get());
  gtk_page_setup_set_orientation(setup.get(), gtkOrientation(start.orientation));
  return setup;
}

bool printerReady(GtkPrintUnixDialog* dialog, const std::string& name) {
  GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(dialog);
  if (printer == nullptr) return false;
  const char* selected = gtk_printer_get_name(printer);
  return selected != nullptr && name == selected && gtk_printer_has_details(printer);
}

// Runs the main context until `done` holds or `limit` has passed; true when `done` held.
// `done` is called from a GLib callback and must not throw.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  struct Wait {
    const std::function<bool()>* done;
    MainLoop loop;
    bool met = false;
  } wait{&done, MainLoop(g_main_loop_new(nullptr, FALSE))};
  if (done()) return true;
  Timeout poll(
      50,
      [](gpointer data) -> gboolean {
        auto& w = *static_cast<Wait*>(data);
        if (!(*w.done)()) return G_SOURCE_CONTINUE;
        w.met = true;
        g_main_loop_quit(w.loop.get());
        return G_SOURCE_CONTINUE;
      },
      &wait);
  Timeout deadline(
      static_cast<guint>(limit.count()),
      [](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<Wait*>(data)->loop.get());
        return G_SOURCE_CONTINUE;
      },
      &wait);
  g_main_loop_run(wait.loop.get());
  return wait.met;
}

DialogChoice choiceOf(GtkPrintUnixDialog* dialog) {
  DialogChoice choice;
  GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(dialog);
  if (printer != nullptr && gtk_printer_get_name(printer) != nullptr) {
    choice.printerName = gtk_printer_get_name(printer);
  }
  GtkPageSetup* setup = gtk_print_unix_dialog_get_page_setup(dialog);
  GtkPaperSize* paper = gtk_page_setup_get_paper_size(setup);
  if (const char* name = gtk_paper_size_get_name(paper)) choice.paperName = name;
  if (const char* name = gtk_paper_size_get_display_name(paper)) choice.displayName = name;
  if (const char* name = gtk_paper_size_get_ppd_name(paper)) choice.ppdName = name;
  choice.paperWidthMm = gtk_paper_size_get_width(paper, GTK_UNIT_MM);
  choice.paperHeightMm = gtk_paper_size_get_height(paper, GTK_UNIT_MM);
  choice.orientation = orientationOf(gtk_page_setup_get_orientation(setup));
  Object<GtkPrintSettings> settings(gtk_print_unix_dialog_get_settings(dialog));
  choice.copies = gtk_print_settings_get_n_copies(settings.get());
  if (choice.copies < 1) choice.copies = 1;
  if (choice.copies > kMaxDialogCopies) choice.copies = kMaxDialogCopies;
  choice.collate = gtk_print_settings_get_collate(settings.get()) == TRUE;
  gtk_print_settings_foreach(
      settings.get(),
      [](const gchar* key, const gchar* value, gpointer data) {
        std::string_view k(key);
        if (k.size() > kCupsPrefix.size() && k.substr(0, kCupsPrefix.size()) == kCupsPrefix) {
          (*static_cast<std::map<std::string, std::string>*>(
              data))[std::string(k.substr(kCupsPrefix.size()))] = value;
        }
      },
      &choice.options);
  return choice;
}

// GTK's dialog also lists the IPP printers Avahi announces, named its own way, which is often a
// queue's name too: the printer announced as "Studio Photo" is listed as Studio_Photo, the name
// cups-browsed gave its queue for it (and CUPS its temporary queue). GTK keeps one printer per
// name, and the one it found itself then stands for the queue in the list: it is never selected
// and its details never arrive, so the queue the request names cannot be chosen. A preset belongs
// to one CUPS queue, and any other choice is refused anyway, so the dialog lists CUPS' queues
// only: Avahi's answers to GTK's browsing are dropped on their way in.
GDBusMessage* withoutAvahiBrowsing(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                   gpointer) {
  if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_SIGNAL &&
      g_strcmp0(g_dbus_message_get_interface(message), "org.freedesktop.Avahi.ServiceBrowser") ==
          0) {
    g_object_unref(message);
    return nullptr;
  }
  return message;
}

void listQueuesOnly() {
  static std::once_flag once;
  std::call_once(once, [] {
    GError* error = nullptr;
    // GTK's backend asks for this same shared connection; without a system bus it finds no
    // Avahi either. The connection stays for the life of the process, as GTK's would.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    std::unique_ptr<GError, ErrorFree> owned(error);
    if (bus) g_dbus_connection_add_filter(bus, withoutAvahiBrowsing, nullptr, nullptr);
  });
}

void openDisplay() {
  routeLogsToStandardError();
  static bool ready = false;
  if (ready) return;
  // The accessibility bridge would wait for a session bus that a helper may not have.
  g_setenv("NO_AT_BRIDGE", "1", FALSE);
  if (!gtk_init_check(nullptr, nullptr)) throw PrintFailure(kNoDisplayMessage);
  ready = true;
}

std::optional<DialogChoice> runDialog(const DialogStart& start,
                                      std::chrono::milliseconds printerWait,
                                      const std::function<void(const ShownDialog&)>& onShown) {
  openDisplay();
  listQueuesOnly();
  // Declared before the window so that it outlives the window's signal handlers.
  struct Answer {
    MainLoop loop;
    gint response = GTK_RESPONSE_NONE;
  } answer{MainLoop(g_main_loop_new(nullptr, FALSE))};
  Window window(gtk_print_unix_dialog_new("Printer Settings", nullptr));
  auto* dialog = GTK_PRINT_UNIX_DIALOG(window.get());
  Object<GtkPrintSettings> settings = startingSettings(start);
  gtk_print_unix_dialog_set_settings(dialog, settings.get());
  if (Object<GtkPageSetup> setup = startingPageSetup(start)) {
    gtk_print_unix_dialog_set_page_setup(dialog, setup.get());
  }
  gtk_print_unix_dialog_set_embed_page_setup(dialog, TRUE);
  gtk_print_unix_dialog_set_manual_capabilities(dialog, GTK_PRINT_CAPABILITY_COPIES);
  gtk_print_unix_dialog_set_support_selection(dialog, FALSE);
  gtk_print_unix_dialog_set_current_page(dialog, -1);
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  if (ok != nullptr && GTK_IS_BUTTON(ok)) gtk_button_set_label(GTK_BUTTON(ok), kSaveSettings);
  hideDocumentControls(window.get());
  capCopies(window.get());

  // GTK lists printers asynchronously; a name it never lists (or lists as another printer) must
  // end in a refusal, not in a dialog waiting forever for a choice it cannot offer.
  if (!runUntil([&] { return printerReady(dialog, start.printerName); }, printerWait)) {
    throw PrintFailure(kNotInstalled);
  }

  g_signal_connect(window.get(), "response", G_CALLBACK(+[](GtkDialog*, gint id, gpointer data) {
                     auto& a = *static_cast<Answer*>(data);
                     a.response = id;
                     g_main_loop_quit(a.loop.get());
                   }),
                   &answer);
  // Closing the window answers like Cancel; the window itself stays ours to destroy.
  g_signal_connect(window.get(), "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
  gtk_window_set_keep_above(GTK_WINDOW(window.get()), TRUE);
  gtk_window_present(GTK_WINDOW(window.get()));
  if (onShown) {
    // Let the window be mapped and drawn before a test looks at it.
    runUntil([&] { return gtk_widget_get_mapped(window.get()) == TRUE; }, std::chrono::seconds(5));
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    onShown(OpenDialog(window.get()));
  }
  if (answer.response == GTK_RESPONSE_NONE) g_main_loop_run(answer.loop.get());
  std::optional<DialogChoice> choice;
  if (answer.response == GTK_RESPONSE_OK) choice = choiceOf(dialog);
  // The window leaves the screen now, not whenever the main context next runs.
  window.reset();
  gdk_display_sync(gdk_display_get_default());
  return choice;
}

constexpr DialogModule kModule{openDisplay, runDialog};

}  // namespace

}  // namespace vardelle::printing

extern "C" __attribute__((visibility("default"))) const vardelle::printing::DialogModule*
vardelle_dialog_module() {
  return &vardelle::printing::kModule;
}
