#ifndef LINUX_RUNNER_UNREAD_BADGE_H_
#define LINUX_RUNNER_UNREAD_BADGE_H_

#include <flutter_linux/flutter_linux.h>

// The launcher badge: "updateBadge" on "com.velmo.pro/badge_manager" takes
// the unread count from the Dart side (clamped to 0-9999), announces it to
// docks and launchers with the LauncherEntry "Update" signal on the session
// bus and passes it to the tray item.

// unread_badge_register opens the channel on `messenger` for the
// application `app_id`, replacing an earlier one. The bus is not touched
// until the first count arrives. Does nothing when an argument is NULL.
void unread_badge_register(FlBinaryMessenger* messenger, const gchar* app_id);

// unread_badge_object_path returns the LauncherEntry object path for
// `app_id` (owned): the same on every run.
gchar* unread_badge_object_path(const gchar* app_id);

// unread_badge_shutdown clears a badge that still shows a count (the signal
// is flushed before returning, so it leaves even when the process ends
// next), closes the channel and forgets all state. Safe to call twice.
void unread_badge_shutdown(void);

#endif  // LINUX_RUNNER_UNREAD_BADGE_H_
