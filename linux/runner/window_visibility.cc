#include "window_visibility.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "service_channel.h"

#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

namespace {

constexpr char kChannelName[] = "com.velmo.pro/window_visibility";
constexpr char kIsUserVisibleMethod[] = "isUserVisible";

GtkWindow* g_window = nullptr;
FlMethodChannel* g_channel = nullptr;
bool g_channel_open = false;

#ifdef GDK_WINDOWING_X11
constexpr guint32 kAllDesktops = 0xFFFFFFFF;
constexpr long kMaxStateItems = 1024;

// Returns the atom `name` if the X server knows it; never creates one, so
// a property no client ever set needs no round trip to look for.
Atom ExistingAtom(Display* display, const char* name) {
  return XInternAtom(display, name, True);
}

// Reads up to `max_items` items of the 32-bit property `atom` of `type`
// (Xlib hands format-32 items over as longs). False when the property is
// unset, of another type or format, or cannot be read.
bool ReadItems(Display* display,
               Window window,
               Atom atom,
               Atom type,
               long max_items,
               std::vector<unsigned long>* out) {
  Atom actual_type = None;
  int actual_format = 0;
  unsigned long num_items = 0;
  unsigned long bytes_after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(
      display, window, atom, 0, max_items, False, type, &actual_type,
      &actual_format, &num_items, &bytes_after, &data);
  const bool ok = status == Success && actual_format == 32 && data != nullptr;
  if (ok) {
    const unsigned long* items = reinterpret_cast<const unsigned long*>(data);
    out->assign(items, items + num_items);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return ok;
}

// Reads the first item of the 32-bit CARDINAL property `atom_name`.
bool ReadCardinal(Display* display,
                  Window window,
                  const char* atom_name,
                  guint32* value) {
  Atom atom = ExistingAtom(display, atom_name);
  std::vector<unsigned long> items;
  if (atom == None ||
      !ReadItems(display, window, atom, XA_CARDINAL, 1, &items) ||
      items.empty()) {
    return false;
  }
  *value = static_cast<guint32>(items[0]);
  return true;
}

bool HasHiddenState(Display* display, Window window) {
  Atom state = ExistingAtom(display, "_NET_WM_STATE");
  Atom hidden = ExistingAtom(display, "_NET_WM_STATE_HIDDEN");
  std::vector<unsigned long> atoms;
  return state != None && hidden != None &&
         ReadItems(display, window, state, XA_ATOM, kMaxStateItems, &atoms) &&
         std::find(atoms.begin(), atoms.end(), hidden) != atoms.end();
}

bool OnOtherDesktop(Display* display, Window window, GdkWindow* gdk_window) {
  guint32 desktop = 0;
  if (!ReadCardinal(display, window, "_NET_WM_DESKTOP", &desktop) ||
      desktop == kAllDesktops) {
    return false;
  }
  GdkScreen* screen = gdk_window_get_screen(gdk_window);
  GdkWindow* root =
      screen != nullptr ? gdk_screen_get_root_window(screen) : nullptr;
  guint32 current = 0;
  return root != nullptr &&
         ReadCardinal(display, gdk_x11_window_get_xid(root),
                      "_NET_CURRENT_DESKTOP", &current) &&
         current != desktop;
}

// The window manager's view of an X11 window: true when it keeps the window
// from the user. Other backends have no such view (false).
bool HiddenByWindowManager(GdkWindow* gdk_window) {
  if (!GDK_IS_X11_WINDOW(gdk_window)) {
    return false;
  }
  GdkDisplay* gdk_display = gdk_window_get_display(gdk_window);
  Display* display = gdk_display != nullptr
                         ? gdk_x11_display_get_xdisplay(gdk_display)
                         : nullptr;
  const Window window = gdk_x11_window_get_xid(gdk_window);
  if (display == nullptr || window == None) {
    return true;
  }
  // The window manager may withdraw the window between our reads; an X
  // error then must not end the process.
  gdk_x11_display_error_trap_push(gdk_display);
  const bool hidden = HasHiddenState(display, window) ||
                      OnOtherDesktop(display, window, gdk_window);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  return hidden;
}
#endif

// Called for every method call from Dart on the visibility channel.
void MethodCallHandler(FlMethodChannel* channel,
                       FlMethodCall* method_call,
                       gpointer user_data) {
  g_autoptr(FlMethodResponse) response = nullptr;
  if (strcmp(fl_method_call_get_name(method_call), kIsUserVisibleMethod) == 0) {
    g_autoptr(FlValue) result =
        fl_value_new_bool(window_visibility_is_user_visible());
    response = FL_METHOD_RESPONSE(fl_method_success_response_new(result));
  } else {
    response = FL_METHOD_RESPONSE(fl_method_not_implemented_response_new());
  }
  g_autoptr(GError) error = nullptr;
  if (!fl_method_call_respond(method_call, response, &error)) {
    g_warning("window_visibility: failed to respond: %s",
              error != nullptr ? error->message : "unknown");
  }
}

void ForgetWindow() {
  if (g_window != nullptr) {
    g_object_remove_weak_pointer(G_OBJECT(g_window),
                                 reinterpret_cast<gpointer*>(&g_window));
    g_window = nullptr;
  }
}

}  // namespace

gboolean window_visibility_is_user_visible(void) {
  if (g_window == nullptr) {
    return FALSE;
  }
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(g_window));
  if (gdk_window == nullptr || !gtk_widget_get_mapped(GTK_WIDGET(g_window))) {
    return FALSE;
  }
  if ((gdk_window_get_state(gdk_window) &
       (GDK_WINDOW_STATE_WITHDRAWN | GDK_WINDOW_STATE_ICONIFIED)) != 0) {
    return FALSE;
  }
#ifdef GDK_WINDOWING_X11
  if (HiddenByWindowManager(gdk_window)) {
    return FALSE;
  }
#endif
  return gtk_window_is_active(g_window);
}

void window_visibility_register(FlBinaryMessenger* messenger,
                                GtkWindow* window) {
  if (messenger == nullptr) {
    return;
  }
  ForgetWindow();
  g_window = window;
  if (g_window != nullptr) {
    g_object_add_weak_pointer(G_OBJECT(g_window),
                              reinterpret_cast<gpointer*>(&g_window));
  }
  service_channel_close(&g_channel, &g_channel_open);
  g_channel = service_channel_open(messenger, kChannelName, MethodCallHandler,
                                   &g_channel_open);
}

void window_visibility_shutdown(void) {
  service_channel_close(&g_channel, &g_channel_open);
  ForgetWindow();
}
