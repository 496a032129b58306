// Test seam of the embedder stand-in: lets a unit test play the Dart side of
// an engine in the same process. Not part of the embedder API: runner and
// plug-in code never include it, and the real embedder has no such header.
//
// Everything runs on the main thread. Replies and host-to-Dart messages are
// delivered from the default main context, never inside the call that caused
// them, so a test iterates the main loop to see them.
#ifndef PLATFORM_FLUTTER_TESTING_FL_DART_SIDE_H_
#define PLATFORM_FLUTTER_TESTING_FL_DART_SIDE_H_

#include <flutter_linux/flutter_linux.h>

G_BEGIN_DECLS

// fl_engine_new_headless creates a running engine without a view, for tests
// that need only its messenger (no display required). Returns full.
FlEngine* fl_engine_new_headless(FlDartProject* project);

// Receives the reply to a message sent from Dart: the bytes, empty when no
// channel handler answered (the Dart side would see "not implemented").
typedef void (*FlDartSideReplyCallback)(GBytes* reply, gpointer user_data);

// fl_dart_side_send delivers `message` from Dart on `channel`; `callback`
// runs once, later, from the main loop.
void fl_dart_side_send(FlEngine* engine,
                       const gchar* channel,
                       GBytes* message,
                       FlDartSideReplyCallback callback,
                       gpointer user_data);

// Receives a host-to-Dart message. Answer it with fl_dart_side_respond and
// `response_id`, at any time, or never.
typedef void (*FlDartSideMessageHandler)(FlEngine* engine,
                                         const gchar* channel,
                                         GBytes* message,
                                         guint64 response_id,
                                         gpointer user_data);

// fl_dart_side_set_message_handler installs the Dart handler for `channel`,
// or for every channel without one of its own when `channel` is NULL. A NULL
// handler removes it. Without any handler the host gets the empty reply.
void fl_dart_side_set_message_handler(FlEngine* engine,
                                      const gchar* channel,
                                      FlDartSideMessageHandler handler,
                                      gpointer user_data,
                                      GDestroyNotify destroy_notify);

// fl_dart_side_respond answers a host-to-Dart message; `reply` NULL or empty
// means not implemented. FALSE if the id is unknown or already answered.
gboolean fl_dart_side_respond(FlEngine* engine,
                              guint64 response_id,
                              GBytes* reply);

// fl_dart_side_dup_entrypoint_arguments returns the arguments the engine
// hands to the Dart entrypoint (full, NULL-terminated, never NULL).
gchar** fl_dart_side_dup_entrypoint_arguments(FlEngine* engine);

// fl_dart_side_dup_registrar_names returns the names of the registrars
// requested from views of this engine, in order (full, NULL-terminated).
gchar** fl_dart_side_dup_registrar_names(FlEngine* engine);

// fl_dart_side_shutdown_engine shuts the engine down as the real one does on
// exit: every channel is closed and every handler's destroy notify runs.
void fl_dart_side_shutdown_engine(FlEngine* engine);

G_END_DECLS

#endif  // PLATFORM_FLUTTER_TESTING_FL_DART_SIDE_H_
