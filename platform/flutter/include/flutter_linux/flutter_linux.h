// Local stand-in for the Flutter Linux embedder API (GTK 3 build).
//
// Only the part of the API that the runner and the plug-ins call, with the
// same names and signatures, so that the real embedder replaces this library
// without any change to their sources. Include this umbrella header only.
#ifndef FLUTTER_LINUX_FLUTTER_LINUX_H_
#define FLUTTER_LINUX_FLUTTER_LINUX_H_

#include <gio/gio.h>
#include <glib-object.h>
#include <gmodule.h>
#include <gtk/gtk.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

G_BEGIN_DECLS

// ---------------------------------------------------------------- FlValue

typedef struct _FlValue FlValue;

typedef enum {
  FL_VALUE_TYPE_NULL,
  FL_VALUE_TYPE_BOOL,
  FL_VALUE_TYPE_INT,
  FL_VALUE_TYPE_FLOAT,
  FL_VALUE_TYPE_STRING,
  FL_VALUE_TYPE_UINT8_LIST,
  FL_VALUE_TYPE_INT32_LIST,
  FL_VALUE_TYPE_INT64_LIST,
  FL_VALUE_TYPE_FLOAT_LIST,
  FL_VALUE_TYPE_LIST,
  FL_VALUE_TYPE_MAP,
  FL_VALUE_TYPE_FLOAT32_LIST,
  FL_VALUE_TYPE_CUSTOM,
} FlValueType;

FlValue* fl_value_new_null(void);
FlValue* fl_value_new_bool(bool value);
FlValue* fl_value_new_int(int64_t value);
FlValue* fl_value_new_float(double value);
FlValue* fl_value_new_string(const gchar* value);
FlValue* fl_value_new_string_sized(const gchar* value, size_t value_length);
FlValue* fl_value_new_uint8_list(const uint8_t* value, size_t value_length);
FlValue* fl_value_new_int32_list(const int32_t* value, size_t value_length);
FlValue* fl_value_new_int64_list(const int64_t* value, size_t value_length);
FlValue* fl_value_new_float32_list(const float* value, size_t value_length);
FlValue* fl_value_new_float_list(const double* value, size_t value_length);
FlValue* fl_value_new_list(void);
FlValue* fl_value_new_map(void);

FlValue* fl_value_ref(FlValue* value);
void fl_value_unref(FlValue* value);
FlValueType fl_value_get_type(FlValue* value);
bool fl_value_equal(FlValue* a, FlValue* b);

void fl_value_append(FlValue* value, FlValue* child);
void fl_value_append_take(FlValue* value, FlValue* child);
void fl_value_set(FlValue* value, FlValue* key, FlValue* child_value);
void fl_value_set_take(FlValue* value, FlValue* key, FlValue* child_value);
void fl_value_set_string(FlValue* value,
                         const gchar* key,
                         FlValue* child_value);
void fl_value_set_string_take(FlValue* value,
                              const gchar* key,
                              FlValue* child_value);

bool fl_value_get_bool(FlValue* value);
int64_t fl_value_get_int(FlValue* value);
double fl_value_get_float(FlValue* value);
const gchar* fl_value_get_string(FlValue* value);
const uint8_t* fl_value_get_uint8_list(FlValue* value);
const int32_t* fl_value_get_int32_list(FlValue* value);
const int64_t* fl_value_get_int64_list(FlValue* value);
const float* fl_value_get_float32_list(FlValue* value);
const double* fl_value_get_float_list(FlValue* value);
size_t fl_value_get_length(FlValue* value);
FlValue* fl_value_get_list_value(FlValue* value, size_t index);
FlValue* fl_value_get_map_key(FlValue* value, size_t index);
FlValue* fl_value_get_map_value(FlValue* value, size_t index);
FlValue* fl_value_lookup(FlValue* value, FlValue* key);
FlValue* fl_value_lookup_string(FlValue* value, const gchar* key);

G_DEFINE_AUTOPTR_CLEANUP_FUNC(FlValue, fl_value_unref)

// ---------------------------------------------------------- FlDartProject

G_DECLARE_FINAL_TYPE(FlDartProject, fl_dart_project, FL, DART_PROJECT, GObject)

FlDartProject* fl_dart_project_new(void);
void fl_dart_project_set_dart_entrypoint_arguments(FlDartProject* project,
                                                   char** argv);

// ------------------------------------------------------ FlBinaryMessenger

#define FL_BINARY_MESSENGER_ERROR fl_binary_messenger_codec_error_quark()

typedef enum {
  FL_BINARY_MESSENGER_ERROR_ALREADY_RESPONDED,
} FlBinaryMessengerError;

GQuark fl_binary_messenger_codec_error_quark(void) G_GNUC_CONST;

G_DECLARE_DERIVABLE_TYPE(FlBinaryMessengerResponseHandle,
                         fl_binary_messenger_response_handle,
                         FL,
                         BINARY_MESSENGER_RESPONSE_HANDLE,
                         GObject)

struct _FlBinaryMessengerResponseHandleClass {
  GObjectClass parent_class;
};

G_DECLARE_INTERFACE(FlBinaryMessenger,
                    fl_binary_messenger,
                    FL,
                    BINARY_MESSENGER,
                    GObject)

typedef void (*FlBinaryMessengerMessageHandler)(
    FlBinaryMessenger* messenger,
    const gchar* channel,
    GBytes* message,
    FlBinaryMessengerResponseHandle* response_handle,
    gpointer user_data);

struct _FlBinaryMessengerInterface {
  GTypeInterface parent_iface;

  void (*set_message_handler_on_channel)(
      FlBinaryMessenger* messenger,
      const gchar* channel,
      FlBinaryMessengerMessageHandler handler,
      gpointer user_data,
      GDestroyNotify destroy_notify);
  gboolean (*send_response)(FlBinaryMessenger* messenger,
                            FlBinaryMessengerResponseHandle* response_handle,
                            GBytes* response,
                            GError** error);
  void (*send_on_channel)(FlBinaryMessenger* messenger,
                          const gchar* channel,
                          GBytes* message,
                          GCancellable* cancellable,
                          GAsyncReadyCallback callback,
                          gpointer user_data);
  GBytes* (*send_on_channel_finish)(FlBinaryMessenger* messenger,
                                    GAsyncResult* result,
                                    GError** error);
  void (*resize_channel)(FlBinaryMessenger* messenger,
                         const gchar* channel,
                         int64_t new_size);
  void (*set_warns_on_channel_overflow)(FlBinaryMessenger* messenger,
                                        const gchar* channel,
                                        bool warns);
};

void fl_binary_messenger_set_message_handler_on_channel(
    FlBinaryMessenger* messenger,
    const gchar* channel,
    FlBinaryMessengerMessageHandler handler,
    gpointer user_data,
    GDestroyNotify destroy_notify);
gboolean fl_binary_messenger_send_response(
    FlBinaryMessenger* messenger,
    FlBinaryMessengerResponseHandle* response_handle,
    GBytes* response,
    GError** error);
void fl_binary_messenger_send_on_channel(FlBinaryMessenger* messenger,
                                         const gchar* channel,
                                         GBytes* message,
                                         GCancellable* cancellable,
                                         GAsyncReadyCallback callback,
                                         gpointer user_data);
GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger* messenger,
                                                   GAsyncResult* result,
                                                   GError** error);
void fl_binary_messenger_resize_channel(FlBinaryMessenger* messenger,
                                        const gchar* channel,
                                        int64_t new_size);
void fl_binary_messenger_set_warns_on_channel_overflow(
    FlBinaryMessenger* messenger,
    const gchar* channel,
    bool warns);

// --------------------------------------------------------------- FlEngine

G_DECLARE_FINAL_TYPE(FlEngine, fl_engine, FL, ENGINE, GObject)

FlBinaryMessenger* fl_engine_get_binary_messenger(FlEngine* engine);

// ----------------------------------------------------------------- Codecs

#define FL_MESSAGE_CODEC_ERROR fl_message_codec_error_quark()

typedef enum {
  FL_MESSAGE_CODEC_ERROR_FAILED,
  FL_MESSAGE_CODEC_ERROR_OUT_OF_DATA,
  FL_MESSAGE_CODEC_ERROR_ADDITIONAL_DATA,
  FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE,
} FlMessageCodecError;

GQuark fl_message_codec_error_quark(void) G_GNUC_CONST;

G_DECLARE_DERIVABLE_TYPE(FlMessageCodec,
                         fl_message_codec,
                         FL,
                         MESSAGE_CODEC,
                         GObject)

struct _FlMessageCodecClass {
  GObjectClass parent_class;

  GBytes* (*encode_message)(FlMessageCodec* codec,
                            FlValue* message,
                            GError** error);
  FlValue* (*decode_message)(FlMessageCodec* codec,
                             GBytes* message,
                             GError** error);
};

GBytes* fl_message_codec_encode_message(FlMessageCodec* codec,
                                        FlValue* message,
                                        GError** error);
FlValue* fl_message_codec_decode_message(FlMessageCodec* codec,
                                         GBytes* message,
                                         GError** error);

G_DECLARE_DERIVABLE_TYPE(FlStandardMessageCodec,
                         fl_standard_message_codec,
                         FL,
                         STANDARD_MESSAGE_CODEC,
                         FlMessageCodec)

struct _FlStandardMessageCodecClass {
  FlMessageCodecClass parent_class;
};

FlStandardMessageCodec* fl_standard_message_codec_new(void);

// -------------------------------------------------------- FlMethodResponse

#define FL_METHOD_RESPONSE_ERROR fl_method_response_error_quark()

typedef enum {
  FL_METHOD_RESPONSE_ERROR_FAILED,
  FL_METHOD_RESPONSE_ERROR_REMOTE_ERROR,
  FL_METHOD_RESPONSE_ERROR_NOT_IMPLEMENTED,
} FlMethodResponseError;

GQuark fl_method_response_error_quark(void) G_GNUC_CONST;

G_DECLARE_DERIVABLE_TYPE(FlMethodResponse,
                         fl_method_response,
                         FL,
                         METHOD_RESPONSE,
                         GObject)

struct _FlMethodResponseClass {
  GObjectClass parent_class;
};

G_DECLARE_FINAL_TYPE(FlMethodSuccessResponse,
                     fl_method_success_response,
                     FL,
                     METHOD_SUCCESS_RESPONSE,
                     FlMethodResponse)

G_DECLARE_FINAL_TYPE(FlMethodErrorResponse,
                     fl_method_error_response,
                     FL,
                     METHOD_ERROR_RESPONSE,
                     FlMethodResponse)

G_DECLARE_FINAL_TYPE(FlMethodNotImplementedResponse,
                     fl_method_not_implemented_response,
                     FL,
                     METHOD_NOT_IMPLEMENTED_RESPONSE,
                     FlMethodResponse)

FlValue* fl_method_response_get_result(FlMethodResponse* response,
                                       GError** error);

FlMethodSuccessResponse* fl_method_success_response_new(FlValue* result);
FlValue* fl_method_success_response_get_result(
    FlMethodSuccessResponse* response);

FlMethodErrorResponse* fl_method_error_response_new(const gchar* code,
                                                    const gchar* message,
                                                    FlValue* details);
const gchar* fl_method_error_response_get_code(FlMethodErrorResponse* response);
const gchar* fl_method_error_response_get_message(
    FlMethodErrorResponse* response);
FlValue* fl_method_error_response_get_details(FlMethodErrorResponse* response);

FlMethodNotImplementedResponse* fl_method_not_implemented_response_new(void);

// ---------------------------------------------------------- Method codecs

G_DECLARE_DERIVABLE_TYPE(FlMethodCodec,
                         fl_method_codec,
                         FL,
                         METHOD_CODEC,
                         GObject)

struct _FlMethodCodecClass {
  GObjectClass parent_class;

  GBytes* (*encode_method_call)(FlMethodCodec* codec,
                                const gchar* name,
                                FlValue* args,
                                GError** error);
  gboolean (*decode_method_call)(FlMethodCodec* codec,
                                 GBytes* message,
                                 gchar** name,
                                 FlValue** args,
                                 GError** error);
  GBytes* (*encode_success_envelope)(FlMethodCodec* codec,
                                     FlValue* result,
                                     GError** error);
  GBytes* (*encode_error_envelope)(FlMethodCodec* codec,
                                   const gchar* code,
                                   const gchar* message,
                                   FlValue* details,
                                   GError** error);
  FlMethodResponse* (*decode_response)(FlMethodCodec* codec,
                                       GBytes* message,
                                       GError** error);
};

G_DECLARE_FINAL_TYPE(FlStandardMethodCodec,
                     fl_standard_method_codec,
                     FL,
                     STANDARD_METHOD_CODEC,
                     FlMethodCodec)

FlStandardMethodCodec* fl_standard_method_codec_new(void);

// ---------------------------------------------------- FlMethodCall/Channel

G_DECLARE_FINAL_TYPE(FlMethodCall, fl_method_call, FL, METHOD_CALL, GObject)

const gchar* fl_method_call_get_name(FlMethodCall* method_call);
FlValue* fl_method_call_get_args(FlMethodCall* method_call);
gboolean fl_method_call_respond(FlMethodCall* method_call,
                                FlMethodResponse* response,
                                GError** error);
gboolean fl_method_call_respond_success(FlMethodCall* method_call,
                                        FlValue* result,
                                        GError** error);
gboolean fl_method_call_respond_error(FlMethodCall* method_call,
                                      const gchar* code,
                                      const gchar* message,
                                      FlValue* details,
                                      GError** error);
gboolean fl_method_call_respond_not_implemented(FlMethodCall* method_call,
                                                GError** error);

G_DECLARE_FINAL_TYPE(FlMethodChannel,
                     fl_method_channel,
                     FL,
                     METHOD_CHANNEL,
                     GObject)

typedef void (*FlMethodChannelMethodCallHandler)(FlMethodChannel* channel,
                                                 FlMethodCall* method_call,
                                                 gpointer user_data);

FlMethodChannel* fl_method_channel_new(FlBinaryMessenger* messenger,
                                       const gchar* name,
                                       FlMethodCodec* codec);
void fl_method_channel_set_method_call_handler(
    FlMethodChannel* channel,
    FlMethodChannelMethodCallHandler handler,
    gpointer user_data,
    GDestroyNotify destroy_notify);
void fl_method_channel_invoke_method(FlMethodChannel* channel,
                                     const gchar* method,
                                     FlValue* args,
                                     GCancellable* cancellable,
                                     GAsyncReadyCallback callback,
                                     gpointer user_data);
FlMethodResponse* fl_method_channel_invoke_method_finish(
    FlMethodChannel* channel,
    GAsyncResult* result,
    GError** error);

// ------------------------------------------------------------------ FlView

G_DECLARE_FINAL_TYPE(FlView, fl_view, FL, VIEW, GtkBox)

FlView* fl_view_new(FlDartProject* project);
FlEngine* fl_view_get_engine(FlView* view);
void fl_view_set_background_color(FlView* view, const GdkRGBA* color);

// ---------------------------------------------- Plug-in registry/registrar

G_DECLARE_INTERFACE(FlPluginRegistrar,
                    fl_plugin_registrar,
                    FL,
                    PLUGIN_REGISTRAR,
                    GObject)

struct _FlPluginRegistrarInterface {
  GTypeInterface parent_iface;

  FlBinaryMessenger* (*get_messenger)(FlPluginRegistrar* registrar);
  gpointer (*get_texture_registrar)(FlPluginRegistrar* registrar);
  FlView* (*get_view)(FlPluginRegistrar* registrar);
};

FlBinaryMessenger* fl_plugin_registrar_get_messenger(
    FlPluginRegistrar* registrar);
FlView* fl_plugin_registrar_get_view(FlPluginRegistrar* registrar);

G_DECLARE_INTERFACE(FlPluginRegistry,
                    fl_plugin_registry,
                    FL,
                    PLUGIN_REGISTRY,
                    GObject)

struct _FlPluginRegistryInterface {
  GTypeInterface parent_iface;

  FlPluginRegistrar* (*get_registrar_for_plugin)(FlPluginRegistry* registry,
                                                 const gchar* name);
};

FlPluginRegistrar* fl_plugin_registry_get_registrar_for_plugin(
    FlPluginRegistry* registry,
    const gchar* name);

G_END_DECLS

#endif  // FLUTTER_LINUX_FLUTTER_LINUX_H_
