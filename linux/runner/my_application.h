#ifndef LINUX_RUNNER_MY_APPLICATION_H_
#define LINUX_RUNNER_MY_APPLICATION_H_

#include <gtk/gtk.h>

G_DECLARE_FINAL_TYPE(MyApplication,
                     my_application,
                     MY,
                     APPLICATION,
                     GtkApplication)

// my_application_new sets the program name and returns a new application
// object (full reference) for the application id "com.velmo.pro".
MyApplication* my_application_new(void);

// my_application_wants_header_bar decides the main window's title bar: a
// header bar except on an X11 screen whose window manager is not GNOME
// Shell, where the window manager draws the title. `wm_name` is what GDK
// reports for an X11 screen (ignored otherwise).
gboolean my_application_wants_header_bar(gboolean x11_screen,
                                         const gchar* wm_name);

#endif  // LINUX_RUNNER_MY_APPLICATION_H_
