#include "platform/dialog.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform::dialog {
namespace {

constexpr char kTitle[] = "Select Your Settings";
constexpr char kName[] = "velox-settings-dialog";

// Win32 sizes its font by cell height; 16 px at weight 500 is the closest
// CSS can say. Where Times New Roman is missing, its metric-compatible clones
// keep the texts inside the fixed layout; they are named because a generic
// "serif" in the same list outranks fontconfig's own Times aliases.
// Controls are squeezed to the heights of the standard Win32 controls so
// that the rows, 30 pixels apart, do not overlap.
constexpr char kCss[] =
    "#velox-settings-dialog, #velox-settings-dialog *, menu.velox-settings-list,"
    " menu.velox-settings-list * {"
    "  font-family: \"Times New Roman\", \"Liberation Serif\", Tinos, \"Nimbus Roman\", serif;"
    "  font-size: 16px; font-weight: 500; }"
    "#velox-settings-dialog button { min-height: 0; padding-top: 0; padding-bottom: 0; }"
    "#velox-settings-dialog combobox button { padding-left: 4px; padding-right: 4px; }"
    "#velox-settings-dialog checkbutton { padding: 4px; }";

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

bool EnsureGtk() {
  static const bool ready = [] {
    // X11 first, through XWayland where need be: Wayland lets no client
    // place its own window at (100, 100). GDK_BACKEND still overrides.
    gdk_set_allowed_backends("x11,*");
    return gtk_init_check(nullptr, nullptr) != FALSE;
  }();
  return ready;
}

void InstallCss() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

// Everything the signal handlers touch. It lives on RunSettingsDialog's
// stack; every handler is disconnected before that returns, because the
// window outlives the call.
struct Dialog {
  GtkWidget* window = nullptr;
  GtkComboBox* resolution = nullptr;
  GtkComboBox* rate = nullptr;
  GtkComboBox* backBuffer = nullptr;
  GtkComboBox* antialias = nullptr;
  GtkComboBox* aspect = nullptr;
  GtkToggleButton* fullscreen = nullptr;
  GtkToggleButton* vsync = nullptr;
  GtkToggleButton* onTop = nullptr;
  std::vector<GtkWidget*> connected;

  bool running = true;
  bool destroyed = false;
  Ending ending = Ending::Start;
  SettingsSelection selection;

  std::string screenshotPath;
  bool screenshotScheduled = false;
  guint screenshotSource = 0;
};

void ReadSelection(Dialog* d) {
  d->selection.resolution = gtk_combo_box_get_active(d->resolution);
  d->selection.rate = gtk_combo_box_get_active(d->rate);
  d->selection.backBuffer = gtk_combo_box_get_active(d->backBuffer);
  d->selection.antialias = gtk_combo_box_get_active(d->antialias);
  d->selection.aspect = gtk_combo_box_get_active(d->aspect);
  d->selection.fullscreen = gtk_toggle_button_get_active(d->fullscreen) != FALSE;
  d->selection.vsync = gtk_toggle_button_get_active(d->vsync) != FALSE;
  d->selection.onTop = gtk_toggle_button_get_active(d->onTop) != FALSE;
}

void End(Dialog* d, Ending ending) {
  if (!d->running) return;
  ReadSelection(d);
  d->ending = ending;
  d->running = false;
}

void OnStart(GtkButton*, gpointer data) { End(static_cast<Dialog*>(data), Ending::Start); }
void OnExit(GtkButton*, gpointer data) { End(static_cast<Dialog*>(data), Ending::Exit); }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  End(static_cast<Dialog*>(data), Ending::Close);
  return TRUE;  // the window is kept, only minimised
}

// Another client may destroy the X window under us; the loop must not wait
// for a button that no longer exists. The children are still alive here.
void OnDestroy(GtkWidget*, gpointer data) {
  auto* d = static_cast<Dialog*>(data);
  End(d, Ending::Close);
  d->destroyed = true;
}

gboolean SaveScreenshot(gpointer data) {
  auto* d = static_cast<Dialog*>(data);
  d->screenshotSource = 0;
  GdkWindow* window = gtk_widget_get_window(d->window);
  GdkPixbuf* shot = window == nullptr
                        ? nullptr
                        : gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                     gdk_window_get_height(window));
  if (shot == nullptr) return G_SOURCE_REMOVE;
  // Written under a temporary name and renamed, so a reader never sees a
  // half-written file.
  const std::string partial = d->screenshotPath + ".part";
  if (gdk_pixbuf_save(shot, partial.c_str(), "png", nullptr, nullptr) != FALSE) {
    std::rename(partial.c_str(), d->screenshotPath.c_str());
  }
  g_object_unref(shot);
  return G_SOURCE_REMOVE;
}

gboolean OnDrawn(GtkWidget*, cairo_t*, gpointer data) {
  auto* d = static_cast<Dialog*>(data);
  if (!d->screenshotScheduled) {
    d->screenshotScheduled = true;
    // The first frame reaches the server after the draw handlers return.
    d->screenshotSource = g_timeout_add(100, SaveScreenshot, d);
  }
  return FALSE;
}

void Place(GtkFixed* fixed, GtkWidget* widget, int x, int y, int width, int height) {
  gtk_widget_set_size_request(widget, width, height);
  gtk_fixed_put(fixed, widget, x, y);
}

void AddLabel(GtkFixed* fixed, const char* text, int x, int y) {
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  Place(fixed, label, x, y, 100, 18);
}

void AddPicture(GtkFixed* fixed, const ProgramResource& picture) {
  if (!picture) return;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  const bool loaded = gdk_pixbuf_loader_write(loader, static_cast<const guchar*>(picture.data),
                                              picture.size, nullptr) != FALSE &&
                      gdk_pixbuf_loader_close(loader, nullptr) != FALSE;
  if (!loaded) gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = loaded ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf != nullptr) {
    GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
    gtk_fixed_put(fixed, image, 20, 20);
  }
  g_object_unref(loader);
}

GtkToggleButton* AddBox(GtkFixed* fixed, int y, bool checked) {
  GtkWidget* box = gtk_check_button_new();
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box), checked ? TRUE : FALSE);
  Place(fixed, box, 160, y, 24, 24);
  return GTK_TOGGLE_BUTTON(box);
}

void StyleListPopup(GtkWidget* combo) {
  // The drop-down is a toplevel of its own, outside the dialog's CSS scope.
  AtkObject* accessible = gtk_combo_box_get_popup_accessible(GTK_COMBO_BOX(combo));
  if (accessible == nullptr || !GTK_IS_ACCESSIBLE(accessible)) return;
  GtkWidget* popup = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
  if (popup != nullptr) {
    gtk_style_context_add_class(gtk_widget_get_style_context(popup), "velox-settings-list");
  }
}

GtkComboBox* AddList(GtkFixed* fixed, const std::vector<std::string>& items, int selected, int y) {
  GtkWidget* combo = gtk_combo_box_text_new();
  for (const std::string& item : items) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), item.c_str());
  }
  const bool valid = selected >= 0 && selected < static_cast<int>(items.size());
  gtk_combo_box_set_active(GTK_COMBO_BOX(combo), valid ? selected : -1);
  StyleListPopup(combo);
  Place(fixed, combo, 160, y, 160, -1);
  return GTK_COMBO_BOX(combo);
}

void Build(Dialog* d, const SettingsDialogModel& model) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  d->window = window;
  gtk_widget_set_name(window, kName);
  gtk_window_set_title(GTK_WINDOW(window), kTitle);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_move(GTK_WINDOW(window), 100, 100);

  GtkWidget* fixedWidget = gtk_fixed_new();
  gtk_widget_set_size_request(fixedWidget, 340, 400);
  gtk_container_add(GTK_CONTAINER(window), fixedWidget);
  GtkFixed* fixed = GTK_FIXED(fixedWidget);

  AddLabel(fixed, "Resolution", 20, 120);
  AddLabel(fixed, "Refresh Rate", 20, 150);
  AddLabel(fixed, "Backbuffer", 20, 180);
  AddLabel(fixed, "Antialiasing", 20, 210);
  AddLabel(fixed, "Aspect ratio", 20, 240);
  AddLabel(fixed, "Fullscreen", 20, 270);
  AddLabel(fixed, "VSync", 20, 290);
  AddLabel(fixed, "Allways on top", 20, 310);

  AddPicture(fixed, model.picture);

  GtkWidget* start = gtk_button_new_with_label("Start");
  Place(fixed, start, 10, 340, 150, 24);
  GtkWidget* exitButton = gtk_button_new_with_label("Exit");
  Place(fixed, exitButton, 170, 340, 150, 24);

  const SettingsSelection& initial = model.initial;
  d->fullscreen = AddBox(fixed, 267, initial.fullscreen);
  d->vsync = AddBox(fixed, 287, initial.vsync);
  d->onTop = AddBox(fixed, 307, initial.onTop);

  d->resolution = AddList(fixed, model.resolutions, initial.resolution, 117);
  d->rate = AddList(fixed, model.rates, initial.rate, 146);
  d->backBuffer = AddList(fixed, model.backBuffers, initial.backBuffer, 175);
  d->antialias = AddList(fixed, model.antialiasing, initial.antialias, 205);
  d->aspect = AddList(fixed, model.aspects, initial.aspect, 235);

  gtk_widget_grab_focus(start);

  g_signal_connect(start, "clicked", G_CALLBACK(OnStart), d);
  g_signal_connect(exitButton, "clicked", G_CALLBACK(OnExit), d);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), d);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), d);
  if (!d->screenshotPath.empty()) {
    g_signal_connect_after(window, "draw", G_CALLBACK(OnDrawn), d);
  }
  d->connected = {window, start, exitButton};
}

}  // namespace

SettingsDialogResult RunSettingsDialog(const SettingsDialogModel& model) {
  if (EnvSet("VELOX_NONINTERACTIVE") || !EnsureGtk()) return {Ending::Start, model.initial};
  InstallCss();

  Dialog d;
  if (const char* path = std::getenv("VELOX_DIALOG_SCREENSHOT"); path != nullptr) {
    d.screenshotPath = path;
  }
  Build(&d, model);
  gtk_widget_show_all(d.window);

  while (d.running) gtk_main_iteration_do(TRUE);

  if (d.screenshotSource != 0) g_source_remove(d.screenshotSource);
  if (!d.destroyed) {
    for (GtkWidget* widget : d.connected) g_signal_handlers_disconnect_by_data(widget, &d);
    // Kept, minimised, until the process ends.
    gtk_window_iconify(GTK_WINDOW(d.window));
    gdk_display_flush(gtk_widget_get_display(d.window));
  }
  return {d.ending, d.selection};
}

}  // namespace platform::dialog
