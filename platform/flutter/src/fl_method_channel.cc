// Method channels and the method calls they deliver.
#include <flutter_linux/flutter_linux.h>

#include "fl_private.h"

// -----------------------------------------------------------------
// FlMethodCall

struct _FlMethodCall {
  GObject parent_instance;
  gchar* name;
  FlValue* args;
  FlMethodChannel* channel;
  FlBinaryMessengerResponseHandle* response_handle;
  gboolean responded;
};

G_DEFINE_TYPE(FlMethodCall, fl_method_call, G_TYPE_OBJECT)

struct _FlMethodChannel {
  GObject parent_instance;
  FlBinaryMessenger* messenger;
  gchar* name;
  FlMethodCodec* codec;
  gboolean closed;
  FlMethodChannelMethodCallHandler handler;
  gpointer handler_data;
  GDestroyNotify handler_destroy;
};

G_DEFINE_TYPE(FlMethodChannel, fl_method_channel, G_TYPE_OBJECT)

static gboolean send_encoded(FlMethodCall* self,
                             GBytes* bytes,
                             GError* encode_error,
                             GError** error) {
  if (self->responded) {
    g_clear_error(&encode_error);
    g_set_error(error, FL_BINARY_MESSENGER_ERROR,
                FL_BINARY_MESSENGER_ERROR_ALREADY_RESPONDED,
                "Method call %s was already responded to", self->name);
    return FALSE;
  }
  self->responded = TRUE;
  // A response that cannot be encoded still answers the caller (with the
  // empty reply) and reports the encoding failure.
  gboolean sent = fl_binary_messenger_send_response(
      self->channel->messenger, self->response_handle, bytes,
      encode_error != nullptr ? nullptr : error);
  if (encode_error != nullptr) {
    g_propagate_error(error, encode_error);
    return FALSE;
  }
  return sent;
}

static void fl_method_call_dispose(GObject* object) {
  FlMethodCall* self = FL_METHOD_CALL(object);
  if (!self->responded && self->channel != nullptr) {
    g_critical(
        "Method call %s on %s dropped without a response; answering "
        "as not implemented",
        self->name, self->channel->name);
    send_encoded(self, nullptr, nullptr, nullptr);
  }
  g_clear_pointer(&self->name, g_free);
  g_clear_pointer(&self->args, fl_value_unref);
  g_clear_object(&self->channel);
  g_clear_object(&self->response_handle);
  G_OBJECT_CLASS(fl_method_call_parent_class)->dispose(object);
}

static void fl_method_call_class_init(FlMethodCallClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_method_call_dispose;
}

static void fl_method_call_init(FlMethodCall* self) {}

const gchar* fl_method_call_get_name(FlMethodCall* self) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), nullptr);
  return self->name;
}

FlValue* fl_method_call_get_args(FlMethodCall* self) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), nullptr);
  return self->args;
}

gboolean fl_method_call_respond(FlMethodCall* self,
                                FlMethodResponse* response,
                                GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), FALSE);
  g_return_val_if_fail(FL_IS_METHOD_RESPONSE(response), FALSE);
  g_autoptr(GError) local_error = nullptr;
  gboolean ok;
  if (FL_IS_METHOD_SUCCESS_RESPONSE(response)) {
    ok = fl_method_call_respond_success(
        self,
        fl_method_success_response_get_result(
            FL_METHOD_SUCCESS_RESPONSE(response)),
        &local_error);
  } else if (FL_IS_METHOD_ERROR_RESPONSE(response)) {
    FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(response);
    ok = fl_method_call_respond_error(
        self, fl_method_error_response_get_code(e),
        fl_method_error_response_get_message(e),
        fl_method_error_response_get_details(e), &local_error);
  } else {
    ok = fl_method_call_respond_not_implemented(self, &local_error);
  }
  if (!ok) {
    if (error == nullptr) {
      g_warning("Failed to send method call response: %s",
                local_error->message);
    } else {
      g_propagate_error(error,
                        static_cast<GError*>(g_steal_pointer(&local_error)));
    }
  }
  return ok;
}

gboolean fl_method_call_respond_success(FlMethodCall* self,
                                        FlValue* result,
                                        GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), FALSE);
  GError* encode_error = nullptr;
  g_autoptr(GBytes) bytes = fl_method_codec_encode_success_envelope(
      self->channel->codec, result, &encode_error);
  return send_encoded(self, bytes, encode_error, error);
}

gboolean fl_method_call_respond_error(FlMethodCall* self,
                                      const gchar* code,
                                      const gchar* message,
                                      FlValue* details,
                                      GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), FALSE);
  g_return_val_if_fail(code != nullptr, FALSE);
  GError* encode_error = nullptr;
  g_autoptr(GBytes) bytes = fl_method_codec_encode_error_envelope(
      self->channel->codec, code, message, details, &encode_error);
  return send_encoded(self, bytes, encode_error, error);
}

gboolean fl_method_call_respond_not_implemented(FlMethodCall* self,
                                                GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CALL(self), FALSE);
  return send_encoded(self, nullptr, nullptr, error);
}

// --------------------------------------------------------------
// FlMethodChannel

static void clear_handler(FlMethodChannel* self) {
  GDestroyNotify destroy = self->handler_destroy;
  gpointer data = self->handler_data;
  self->handler = nullptr;
  self->handler_data = nullptr;
  self->handler_destroy = nullptr;
  if (destroy != nullptr) {
    destroy(data);
  }
}

// Called by the messenger when our registration ends: replaced by another
// channel of the same name, or the engine shut down.
static void registration_ended_cb(gpointer data) {
  FlMethodChannel* self = FL_METHOD_CHANNEL(data);
  self->closed = TRUE;
  clear_handler(self);
  g_object_unref(self);
}

// Called by the messenger for every message from Dart on our name.
static void message_cb(FlBinaryMessenger* messenger,
                       const gchar* channel,
                       GBytes* message,
                       FlBinaryMessengerResponseHandle* response_handle,
                       gpointer user_data) {
  FlMethodChannel* self = FL_METHOD_CHANNEL(user_data);
  if (self->handler == nullptr) {
    fl_binary_messenger_send_response(messenger, response_handle, nullptr,
                                      nullptr);
    return;
  }
  g_autofree gchar* name = nullptr;
  g_autoptr(FlValue) args = nullptr;
  g_autoptr(GError) error = nullptr;
  if (!fl_method_codec_decode_method_call(self->codec, message, &name, &args,
                                          &error)) {
    g_warning("Failed to decode method call on %s: %s", self->name,
              error->message);
    fl_binary_messenger_send_response(messenger, response_handle, nullptr,
                                      nullptr);
    return;
  }
  FlMethodCall* call =
      FL_METHOD_CALL(g_object_new(fl_method_call_get_type(), nullptr));
  call->name = static_cast<gchar*>(g_steal_pointer(&name));
  call->args = static_cast<FlValue*>(g_steal_pointer(&args));
  call->channel = FL_METHOD_CHANNEL(g_object_ref(self));
  call->response_handle =
      FL_BINARY_MESSENGER_RESPONSE_HANDLE(g_object_ref(response_handle));
  self->handler(self, call, self->handler_data);
  g_object_unref(call);
}

static void fl_method_channel_dispose(GObject* object) {
  FlMethodChannel* self = FL_METHOD_CHANNEL(object);
  if (!self->closed && self->messenger != nullptr) {
    self->closed = TRUE;
    clear_handler(self);
    fl_binary_messenger_remove_if_owned(self->messenger, self->name, self);
  }
  clear_handler(self);
  g_clear_object(&self->messenger);
  g_clear_pointer(&self->name, g_free);
  g_clear_object(&self->codec);
  G_OBJECT_CLASS(fl_method_channel_parent_class)->dispose(object);
}

static void fl_method_channel_class_init(FlMethodChannelClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_method_channel_dispose;
}

static void fl_method_channel_init(FlMethodChannel* self) {}

FlMethodChannel* fl_method_channel_new(FlBinaryMessenger* messenger,
                                       const gchar* name,
                                       FlMethodCodec* codec) {
  g_return_val_if_fail(FL_IS_BINARY_MESSENGER(messenger), nullptr);
  g_return_val_if_fail(name != nullptr, nullptr);
  g_return_val_if_fail(FL_IS_METHOD_CODEC(codec), nullptr);
  FlMethodChannel* self =
      FL_METHOD_CHANNEL(g_object_new(fl_method_channel_get_type(), nullptr));
  self->messenger = FL_BINARY_MESSENGER(g_object_ref(messenger));
  self->name = g_strdup(name);
  self->codec = FL_METHOD_CODEC(g_object_ref(codec));
  // The messenger's reference keeps the channel registered after the
  // creator drops its own.
  fl_binary_messenger_set_message_handler_on_channel(
      messenger, name, message_cb, g_object_ref(self), registration_ended_cb);
  return self;
}

void fl_method_channel_set_method_call_handler(
    FlMethodChannel* self,
    FlMethodChannelMethodCallHandler handler,
    gpointer user_data,
    GDestroyNotify destroy_notify) {
  g_return_if_fail(FL_IS_METHOD_CHANNEL(self));
  if (self->closed) {
    g_warning(
        "Attempted to set a method call handler on the closed channel "
        "%s",
        self->name);
    if (destroy_notify != nullptr) {
      destroy_notify(user_data);
    }
    return;
  }
  clear_handler(self);
  self->handler = handler;
  self->handler_data = user_data;
  self->handler_destroy = destroy_notify;
}

namespace {

gboolean ReturnErrorLater(gpointer data) {
  GTask* task = G_TASK(data);
  g_task_return_new_error(
      task, FL_MESSAGE_CODEC_ERROR, FL_MESSAGE_CODEC_ERROR_UNSUPPORTED_TYPE,
      "%s", static_cast<const gchar*>(g_task_get_task_data(task)));
  g_object_unref(task);
  return G_SOURCE_REMOVE;
}

}  // namespace

// Called when the messenger has the reply to an invocation.
static void invoke_reply_cb(GObject* source,
                            GAsyncResult* result,
                            gpointer user_data) {
  GTask* task = G_TASK(user_data);
  GError* error = nullptr;
  GBytes* reply = fl_binary_messenger_send_on_channel_finish(
      FL_BINARY_MESSENGER(source), result, &error);
  if (reply == nullptr) {
    g_task_return_error(task, error);
  } else {
    g_task_return_pointer(task, reply,
                          reinterpret_cast<GDestroyNotify>(g_bytes_unref));
  }
  g_object_unref(task);
}

void fl_method_channel_invoke_method(FlMethodChannel* self,
                                     const gchar* method,
                                     FlValue* args,
                                     GCancellable* cancellable,
                                     GAsyncReadyCallback callback,
                                     gpointer user_data) {
  g_return_if_fail(FL_IS_METHOD_CHANNEL(self));
  g_return_if_fail(method != nullptr);
  GTask* task = callback != nullptr
                    ? g_task_new(self, cancellable, callback, user_data)
                    : nullptr;
  g_autoptr(GError) error = nullptr;
  g_autoptr(GBytes) message =
      fl_method_codec_encode_method_call(self->codec, method, args, &error);
  if (message == nullptr) {
    if (task != nullptr) {
      g_task_set_task_data(task, g_strdup(error->message), g_free);
      fl_run_later(ReturnErrorLater, task);
    } else {
      g_warning("Failed to encode method call %s: %s", method, error->message);
    }
    return;
  }
  fl_binary_messenger_send_on_channel(
      self->messenger, self->name, message, cancellable,
      task != nullptr ? invoke_reply_cb : nullptr, task);
}

FlMethodResponse* fl_method_channel_invoke_method_finish(FlMethodChannel* self,
                                                         GAsyncResult* result,
                                                         GError** error) {
  g_return_val_if_fail(FL_IS_METHOD_CHANNEL(self), nullptr);
  g_return_val_if_fail(g_task_is_valid(result, self), nullptr);
  g_autoptr(GBytes) reply =
      static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(result), error));
  if (reply == nullptr) {
    return nullptr;
  }
  return fl_method_codec_decode_response(self->codec, reply, error);
}
