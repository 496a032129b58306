// Internals of tray_icon that its tests reach directly. Not for other
// modules.
#ifndef LINUX_RUNNER_TRAY_ICON_PRIVATE_H_
#define LINUX_RUNNER_TRAY_ICON_PRIVATE_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

// tray_icon_build_title returns the item's title for `count` unread (owned).
gchar* tray_icon_build_title(gint64 count);

// tray_icon_pixmap returns the "IconPixmap" value for `pixbuf` (may be
// NULL): one ARGB32 entry in network byte order, or an empty array. Floating.
GVariant* tray_icon_pixmap(GdkPixbuf* pixbuf);

// tray_icon_set_pixbuf replaces the tray image (NULL for none); the next
// read of "IconPixmap" shows it.
void tray_icon_set_pixbuf(GdkPixbuf* pixbuf);

// tray_menu_handle_call answers one dbusmenu method: the reply (floating,
// may be NULL for an empty reply) or NULL with `error` set. Side effects of
// clicks happen here; the quit click only schedules the window's end, so
// the caller's reply always leaves first.
GVariant* tray_menu_handle_call(const gchar* method,
                                GVariant* parameters,
                                GError** error);

#endif  // LINUX_RUNNER_TRAY_ICON_PRIVATE_H_
