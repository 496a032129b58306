#ifndef LINUX_RUNNER_TRAY_ICON_H_
#define LINUX_RUNNER_TRAY_ICON_H_

#include <flutter_linux/flutter_linux.h>

// The tray icon: a StatusNotifierItem ("/StatusNotifierItem") with its
// dbusmenu menu ("/StatusNotifierItem/Menu") on the session bus, registered
// with the StatusNotifierWatcher whenever the item's bus name and a watcher
// both exist. The Dart side learns on "com.velmo.pro/tray" whether a tray is
// available ("isAvailable", "onAvailabilityChanged"), which decides whether
// closing the window hides it or quits; "reveal" and the item bring the
// window back. The title shows the unread count the badge service passes in.

// tray_icon_register opens the channel on `messenger` and, once per process,
// exports the item and menu and starts tracking the watcher. The window is
// held by weak reference. Does nothing when any argument is NULL. Without a
// session bus only the channel works and the tray never becomes available.
void tray_icon_register(FlBinaryMessenger* messenger,
                        GtkWindow* window,
                        const gchar* app_id);

// tray_icon_set_unread_count stores `count` (clamped to 0-9999) and, when it
// changed and the tray is available, tells tray hosts the title changed.
void tray_icon_set_unread_count(gint64 count);

// tray_icon_is_available returns whether the watcher accepted the item.
gboolean tray_icon_is_available(void);

// tray_icon_shutdown unexports everything, closes the channel and forgets
// all state; quiet (no log, nothing sent to Dart). Safe to call twice.
void tray_icon_shutdown(void);

#endif  // LINUX_RUNNER_TRAY_ICON_H_
