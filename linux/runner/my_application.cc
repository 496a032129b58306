#include "my_application.h"

#include <flutter_linux/flutter_linux.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "call_audio.h"
#include "external_link.h"
#include "generated_plugin_registrant.h"
#include "system_power_monitor.h"
#include "tray_icon.h"
#include "unread_badge.h"
#include "window_visibility.h"

namespace {

constexpr char kApplicationId[] = "com.velmo.pro";
constexpr char kWindowTitle[] = "Velmo Messenger";
constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
constexpr char kBackgroundColor[] = "#000000";
constexpr char kIconName[] = "com.velmo.pro";
constexpr int kThemedIconSize = 48;
constexpr char kFallbackIconFile[] = "app_icon.png";
constexpr int kFallbackIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr char kOpenLinkAction[] = "open-link";
constexpr char kGnomeShell[] = "GNOME Shell";

}  // namespace

struct _MyApplication {
  GtkApplication parent_instance;
  // Arguments after the program name, for the Dart entrypoint.
  char** entrypoint_arguments;
  // The sleep and wake monitor, owned; made at the first activation and
  // freed at dispose, after the other services have shut down.
  SystemPowerMonitor* power_monitor;
  // The main window; reads NULL once the window is destroyed.
  GtkWindow* window;
};

G_DEFINE_TYPE(MyApplication, my_application, GTK_TYPE_APPLICATION)

gboolean my_application_wants_header_bar(gboolean x11_screen,
                                         const gchar* wm_name) {
  return !x11_screen || g_strcmp0(wm_name, kGnomeShell) == 0;
}

// Called when the Flutter view has produced its first frame: only now does
// the window appear, so the user never sees it empty.
static void first_frame_cb(MyApplication* self, FlView* view) {
  gtk_widget_show(gtk_widget_get_toplevel(GTK_WIDGET(view)));
}

// Called when "open-link" is activated, locally or by a later launch.
static void open_link_cb(GSimpleAction* action,
                         GVariant* parameter,
                         gpointer user_data) {
  external_link_receive(g_variant_get_string(parameter, nullptr));
}

// Sets the themed icon when the theme has it, else installs the icon file
// from the bundle's data folder as the default icon list.
static void set_window_icon(GtkWindow* window) {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  if (theme != nullptr) {
    g_autoptr(GdkPixbuf) themed =
        gtk_icon_theme_load_icon(theme, kIconName, kThemedIconSize,
                                 static_cast<GtkIconLookupFlags>(0), nullptr);
    if (themed != nullptr) {
      gtk_window_set_icon_name(window, kIconName);
      return;
    }
  }

  g_autofree gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
  if (exe == nullptr) {
    return;
  }
  g_autofree gchar* dir = g_path_get_dirname(exe);
  g_autofree gchar* path =
      g_build_filename(dir, "data", kFallbackIconFile, nullptr);
  GList* icons = nullptr;
  for (int size : kFallbackIconSizes) {
    g_autoptr(GError) error = nullptr;
    GdkPixbuf* icon =
        gdk_pixbuf_new_from_file_at_scale(path, size, size, TRUE, &error);
    if (icon == nullptr) {
      g_warning("window icon: could not load %s: %s", path,
                error != nullptr ? error->message : "unknown");
      break;
    }
    // Prepending leaves the largest first, the order the list is read in.
    icons = g_list_prepend(icons, icon);
  }
  if (icons != nullptr) {
    gtk_window_set_default_icon_list(icons);
    g_list_free_full(icons, g_object_unref);
  }
}

static void set_title_bar(GtkWindow* window) {
  gboolean x11_screen = FALSE;
  const gchar* wm_name = nullptr;
#ifdef GDK_WINDOWING_X11
  GdkScreen* screen = gtk_window_get_screen(window);
  if (screen != nullptr && GDK_IS_X11_SCREEN(screen)) {
    x11_screen = TRUE;
    wm_name = gdk_x11_screen_get_window_manager_name(screen);
  }
#endif
  if (!my_application_wants_header_bar(x11_screen, wm_name)) {
    gtk_window_set_title(window, kWindowTitle);
    return;
  }
  GtkHeaderBar* header_bar = GTK_HEADER_BAR(gtk_header_bar_new());
  gtk_widget_show(GTK_WIDGET(header_bar));
  gtk_header_bar_set_title(header_bar, kWindowTitle);
  gtk_header_bar_set_show_close_button(header_bar, TRUE);
  gtk_window_set_titlebar(window, GTK_WIDGET(header_bar));
}

// Implements GApplication::activate.
static void my_application_activate(GApplication* application) {
  MyApplication* self = MY_APPLICATION(application);

  // Any later activation (a second launch, a hidden window wanted back)
  // only brings the one window forward.
  if (self->window != nullptr) {
    gtk_widget_show(GTK_WIDGET(self->window));
    gtk_window_deiconify(self->window);
    gtk_window_present(self->window);
    return;
  }

  GtkWindow* window =
      GTK_WINDOW(gtk_application_window_new(GTK_APPLICATION(application)));
  self->window = window;
  g_object_add_weak_pointer(G_OBJECT(window),
                            reinterpret_cast<gpointer*>(&self->window));
  set_title_bar(window);
  gtk_window_set_default_size(window, kDefaultWidth, kDefaultHeight);
  set_window_icon(window);

  g_autoptr(FlDartProject) project = fl_dart_project_new();
  fl_dart_project_set_dart_entrypoint_arguments(project,
                                                self->entrypoint_arguments);
  FlView* view = fl_view_new(project);
  GdkRGBA background;
  gdk_rgba_parse(&background, kBackgroundColor);
  fl_view_set_background_color(view, &background);
  gtk_widget_show(GTK_WIDGET(view));

  // The web-view plug-in stacks its views over the Flutter view as layers
  // of this overlay, so the view must stay its main child.
  GtkWidget* overlay = gtk_overlay_new();
  gtk_widget_show(overlay);
  gtk_container_add(GTK_CONTAINER(overlay), GTK_WIDGET(view));
  gtk_container_add(GTK_CONTAINER(window), overlay);

  // The window stays hidden until the first frame.
  g_signal_connect_swapped(view, "first-frame", G_CALLBACK(first_frame_cb),
                           self);
  gtk_widget_realize(GTK_WIDGET(view));

  // Services start in this order; each opens its channel on the engine's
  // messenger. Shutdown (my_application_shutdown) and dispose stop them.
  FlBinaryMessenger* messenger =
      fl_engine_get_binary_messenger(fl_view_get_engine(view));
  call_audio_register(messenger);
  fl_register_plugins(FL_PLUGIN_REGISTRY(view));
  if (self->power_monitor == nullptr) {
    self->power_monitor = system_power_monitor_new(messenger);
  }
  unread_badge_register(messenger, kApplicationId);
  tray_icon_register(messenger, window, kApplicationId);
  window_visibility_register(messenger, window);
  external_link_register(messenger);

  gtk_widget_grab_focus(GTK_WIDGET(view));
}

// Implements GApplication::local_command_line. Runs in every launched
// process and always handles the command line itself.
static gboolean my_application_local_command_line(GApplication* application,
                                                  gchar*** arguments,
                                                  int* exit_status) {
  MyApplication* self = MY_APPLICATION(application);
  gchar** argv = *arguments;
  gchar** after_program =
      (argv != nullptr && argv[0] != nullptr) ? argv + 1 : argv;
  gchar** copy = g_strdupv(after_program);
  g_clear_pointer(&self->entrypoint_arguments, g_strfreev);
  self->entrypoint_arguments = copy != nullptr ? copy : g_new0(gchar*, 1);

  // In the first process this makes us the primary instance; in any later
  // one a proxy that forwards to it.
  g_autoptr(GError) error = nullptr;
  if (!g_application_register(application, nullptr, &error)) {
    g_warning("Failed to register: %s", error->message);
    *exit_status = 1;
    return TRUE;
  }

  // Only one link per command line is handed on.
  const gchar* link = external_link_in_arguments(self->entrypoint_arguments);
  if (link != nullptr) {
    g_action_group_activate_action(G_ACTION_GROUP(application), kOpenLinkAction,
                                   g_variant_new_string(link));
  }
  g_application_activate(application);
  *exit_status = 0;
  return TRUE;
}

// Implements GApplication::startup (primary instance only).
static void my_application_startup(GApplication* application) {
  G_APPLICATION_CLASS(my_application_parent_class)->startup(application);

  GSimpleAction* open_link =
      g_simple_action_new(kOpenLinkAction, G_VARIANT_TYPE_STRING);
  g_signal_connect(open_link, "activate", G_CALLBACK(open_link_cb), nullptr);
  g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(open_link));
  g_object_unref(open_link);
}

// Implements GApplication::shutdown (primary instance, after the main loop).
static void my_application_shutdown(GApplication* application) {
  // The badge goes first: it clears a count still shown on the launcher
  // while the bus connection is surely there.
  unread_badge_shutdown();
  tray_icon_shutdown();
  call_audio_shutdown();
  window_visibility_shutdown();
  external_link_shutdown();

  G_APPLICATION_CLASS(my_application_parent_class)->shutdown(application);
}

// Implements GObject::dispose.
static void my_application_dispose(GObject* object) {
  MyApplication* self = MY_APPLICATION(object);
  g_clear_pointer(&self->entrypoint_arguments, g_strfreev);
  system_power_monitor_free(g_steal_pointer(&self->power_monitor));
  if (self->window != nullptr) {
    // A window the embedder detached on quit may outlive us.
    g_object_remove_weak_pointer(G_OBJECT(self->window),
                                 reinterpret_cast<gpointer*>(&self->window));
    self->window = nullptr;
  }
  G_OBJECT_CLASS(my_application_parent_class)->dispose(object);
}

static void my_application_class_init(MyApplicationClass* klass) {
  G_APPLICATION_CLASS(klass)->activate = my_application_activate;
  G_APPLICATION_CLASS(klass)->local_command_line =
      my_application_local_command_line;
  G_APPLICATION_CLASS(klass)->startup = my_application_startup;
  G_APPLICATION_CLASS(klass)->shutdown = my_application_shutdown;
  G_OBJECT_CLASS(klass)->dispose = my_application_dispose;
}

static void my_application_init(MyApplication* self) {}

MyApplication* my_application_new(void) {
  // The program name is also the X11 window class and what the desktop
  // matches against the desktop entry.
  g_set_prgname(kApplicationId);
  return MY_APPLICATION(g_object_new(my_application_get_type(),
                                     "application-id", kApplicationId, "flags",
                                     G_APPLICATION_DEFAULT_FLAGS, nullptr));
}
