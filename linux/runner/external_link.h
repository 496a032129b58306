#ifndef LINUX_RUNNER_EXTERNAL_LINK_H_
#define LINUX_RUNNER_EXTERNAL_LINK_H_

#include <flutter_linux/flutter_linux.h>

// Intake of "velmo:" links handed to the program from outside. Links that
// arrive before the Dart side listens are held (at most 8) and leave with
// its first "takePending"; later ones are sent at once with "open" on the
// channel "com.velmo.pro/external_link".

// external_link_is_velmo returns whether `link` (may be NULL) qualifies:
// "velmo:" in any case, at least one character after it, at most 2048 bytes.
gboolean external_link_is_velmo(const gchar* link);

// external_link_in_arguments returns the first qualifying element of the
// NULL-terminated `arguments` (borrowed from it), or NULL.
const gchar* external_link_in_arguments(gchar** arguments);

// external_link_receive accepts one link; non-qualifying links are ignored.
void external_link_receive(const gchar* link);

// external_link_register opens the channel on `messenger`.
void external_link_register(FlBinaryMessenger* messenger);

// external_link_shutdown closes the channel and forgets held links and the
// listening state.
void external_link_shutdown(void);

#endif  // LINUX_RUNNER_EXTERNAL_LINK_H_
