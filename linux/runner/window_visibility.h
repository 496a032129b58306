#ifndef LINUX_RUNNER_WINDOW_VISIBILITY_H_
#define LINUX_RUNNER_WINDOW_VISIBILITY_H_

#include <flutter_linux/flutter_linux.h>

// Answers "isUserVisible" on "com.velmo.pro/window_visibility": whether the
// user is looking at the main window right now, i.e. it is mapped, not
// minimised or hidden by the window manager, on the current desktop (X11)
// and the active window.

// window_visibility_register opens the channel on `messenger` (nothing for
// NULL) and watches `window` without owning it; the answer is false once the
// window is destroyed.
void window_visibility_register(FlBinaryMessenger* messenger,
                                GtkWindow* window);

// window_visibility_is_user_visible returns the answer "isUserVisible"
// gives now.
gboolean window_visibility_is_user_visible(void);

// window_visibility_shutdown closes the channel and forgets the window.
void window_visibility_shutdown(void);

#endif  // LINUX_RUNNER_WINDOW_VISIBILITY_H_
