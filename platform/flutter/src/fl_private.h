// Internals shared by the stand-in's own sources (and its tests). Nothing
// here belongs to the embedder API; runner and plug-in code never include it.
#ifndef PLATFORM_FLUTTER_SRC_FL_PRIVATE_H_
#define PLATFORM_FLUTTER_SRC_FL_PRIVATE_H_

#include <flutter_linux/flutter_linux.h>

G_BEGIN_DECLS

// Method codec entry points behind the class slots.
GBytes* fl_method_codec_encode_method_call(FlMethodCodec* codec,
                                           const gchar* name,
                                           FlValue* args,
                                           GError** error);
gboolean fl_method_codec_decode_method_call(FlMethodCodec* codec,
                                            GBytes* message,
                                            gchar** name,
                                            FlValue** args,
                                            GError** error);
GBytes* fl_method_codec_encode_success_envelope(FlMethodCodec* codec,
                                                FlValue* result,
                                                GError** error);
GBytes* fl_method_codec_encode_error_envelope(FlMethodCodec* codec,
                                              const gchar* code,
                                              const gchar* message,
                                              FlValue* details,
                                              GError** error);
FlMethodResponse* fl_method_codec_decode_response(FlMethodCodec* codec,
                                                  GBytes* message,
                                                  GError** error);

// Receives the reply to a message: the bytes (empty when nobody handled it),
// or NULL with `error` set when it could not be delivered.
typedef void (*FlReplyFn)(GBytes* reply, const GError* error, gpointer data);

// The messenger of one engine.
FlBinaryMessenger* fl_binary_messenger_new_for_engine(FlEngine* engine);
// Hands a message from Dart to the channel's handler; `reply` runs exactly
// once with the response bytes (empty when no handler answered).
void fl_binary_messenger_deliver(FlBinaryMessenger* messenger,
                                 const gchar* channel,
                                 GBytes* message,
                                 FlReplyFn reply,
                                 gpointer reply_data);
// Drops every handler (their destroy notifies run) and forgets the engine.
void fl_binary_messenger_shutdown(FlBinaryMessenger* messenger);
// Removes the registration of `channel` if it still belongs to `user_data`.
void fl_binary_messenger_remove_if_owned(FlBinaryMessenger* messenger,
                                         const gchar* channel,
                                         gpointer user_data);

FlEngine* fl_engine_new(FlDartProject* project);
// Starts the "Dart side": connects the relay socket when one is configured.
void fl_engine_start(FlEngine* engine);
void fl_engine_shutdown(FlEngine* engine);
// Sends a message to Dart; `reply` runs later from the main loop.
void fl_engine_send_to_dart(FlEngine* engine,
                            const gchar* channel,
                            GBytes* message,
                            FlReplyFn reply,
                            gpointer reply_data);
// Routes a message from Dart to the host; `reply` may run before returning.
void fl_engine_dispatch_from_dart(FlEngine* engine,
                                  const gchar* channel,
                                  GBytes* message,
                                  FlReplyFn reply,
                                  gpointer reply_data);
void fl_engine_note_registrar(FlEngine* engine, const gchar* name);
void fl_engine_note_first_frame(FlEngine* engine);
// Runs `fn(data)` once from the main loop when the Dart side has drawn its
// first frame: at once without a socket, else when the driver says so (or
// goes away). Forgotten at shutdown.
void fl_engine_request_first_frame(FlEngine* engine,
                                   GSourceFunc fn,
                                   gpointer data);
// The window close hook: asks Dart whether the application may exit.
void fl_engine_request_app_exit(FlEngine* engine);

gchar** fl_dart_project_dup_entrypoint_arguments(FlDartProject* project);

FlPluginRegistrar* fl_plugin_registrar_new(FlView* view,
                                           FlBinaryMessenger* messenger);

// Schedules `fn(data)` on the default main context (never runs it inline).
void fl_run_later(GSourceFunc fn, gpointer data);

G_END_DECLS

#endif  // PLATFORM_FLUTTER_SRC_FL_PRIVATE_H_
