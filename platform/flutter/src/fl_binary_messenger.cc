// The binary messenger: one handler per channel name, raw bytes both ways.
#include <flutter_linux/flutter_linux.h>

#include <map>
#include <string>

#include "fl_private.h"

G_DEFINE_QUARK(fl_binary_messenger_codec_error_quark,
               fl_binary_messenger_codec_error)

// ------------------------------------------------------------ response handle

typedef struct {
  FlReplyFn reply;
  gpointer reply_data;
  gboolean responded;
} FlBinaryMessengerResponseHandlePrivate;

G_DEFINE_TYPE_WITH_PRIVATE(FlBinaryMessengerResponseHandle,
                           fl_binary_messenger_response_handle,
                           G_TYPE_OBJECT)

static gboolean handle_respond(FlBinaryMessengerResponseHandle* handle,
                               GBytes* response,
                               GError** error) {
  FlBinaryMessengerResponseHandlePrivate* priv =
      static_cast<FlBinaryMessengerResponseHandlePrivate*>(
          fl_binary_messenger_response_handle_get_instance_private(handle));
  if (priv->responded) {
    g_set_error(error, FL_BINARY_MESSENGER_ERROR,
                FL_BINARY_MESSENGER_ERROR_ALREADY_RESPONDED,
                "Attempted to respond to a message that is already responded "
                "to");
    return FALSE;
  }
  priv->responded = TRUE;
  g_autoptr(GBytes) empty = g_bytes_new(nullptr, 0);
  priv->reply(response != nullptr ? response : empty, nullptr,
              priv->reply_data);
  return TRUE;
}

static void fl_binary_messenger_response_handle_finalize(GObject* object) {
  FlBinaryMessengerResponseHandle* self =
      FL_BINARY_MESSENGER_RESPONSE_HANDLE(object);
  FlBinaryMessengerResponseHandlePrivate* priv =
      static_cast<FlBinaryMessengerResponseHandlePrivate*>(
          fl_binary_messenger_response_handle_get_instance_private(self));
  // A message nobody answered still gets a reply, so the Dart side never
  // waits forever.
  if (!priv->responded && priv->reply != nullptr) {
    handle_respond(self, nullptr, nullptr);
  }
  G_OBJECT_CLASS(fl_binary_messenger_response_handle_parent_class)
      ->finalize(object);
}

static void fl_binary_messenger_response_handle_class_init(
    FlBinaryMessengerResponseHandleClass* klass) {
  G_OBJECT_CLASS(klass)->finalize =
      fl_binary_messenger_response_handle_finalize;
}

static void fl_binary_messenger_response_handle_init(
    FlBinaryMessengerResponseHandle* self) {}

// ----------------------------------------------------------------- interface

G_DEFINE_INTERFACE(FlBinaryMessenger, fl_binary_messenger, G_TYPE_OBJECT)

static void fl_binary_messenger_default_init(
    FlBinaryMessengerInterface* iface) {}

void fl_binary_messenger_set_message_handler_on_channel(
    FlBinaryMessenger* self,
    const gchar* channel,
    FlBinaryMessengerMessageHandler handler,
    gpointer user_data,
    GDestroyNotify destroy_notify) {
  g_return_if_fail(FL_IS_BINARY_MESSENGER(self));
  g_return_if_fail(channel != nullptr);
  FL_BINARY_MESSENGER_GET_IFACE(self)->set_message_handler_on_channel(
      self, channel, handler, user_data, destroy_notify);
}

gboolean fl_binary_messenger_send_response(
    FlBinaryMessenger* self,
    FlBinaryMessengerResponseHandle* response_handle,
    GBytes* response,
    GError** error) {
  g_return_val_if_fail(FL_IS_BINARY_MESSENGER(self), FALSE);
  g_return_val_if_fail(FL_IS_BINARY_MESSENGER_RESPONSE_HANDLE(response_handle),
                       FALSE);
  return FL_BINARY_MESSENGER_GET_IFACE(self)->send_response(
      self, response_handle, response, error);
}

void fl_binary_messenger_send_on_channel(FlBinaryMessenger* self,
                                         const gchar* channel,
                                         GBytes* message,
                                         GCancellable* cancellable,
                                         GAsyncReadyCallback callback,
                                         gpointer user_data) {
  g_return_if_fail(FL_IS_BINARY_MESSENGER(self));
  g_return_if_fail(channel != nullptr);
  FL_BINARY_MESSENGER_GET_IFACE(self)->send_on_channel(
      self, channel, message, cancellable, callback, user_data);
}

GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger* self,
                                                   GAsyncResult* result,
                                                   GError** error) {
  g_return_val_if_fail(FL_IS_BINARY_MESSENGER(self), nullptr);
  return FL_BINARY_MESSENGER_GET_IFACE(self)->send_on_channel_finish(
      self, result, error);
}

void fl_binary_messenger_resize_channel(FlBinaryMessenger* self,
                                        const gchar* channel,
                                        int64_t new_size) {
  g_return_if_fail(FL_IS_BINARY_MESSENGER(self));
  FL_BINARY_MESSENGER_GET_IFACE(self)->resize_channel(self, channel, new_size);
}

void fl_binary_messenger_set_warns_on_channel_overflow(FlBinaryMessenger* self,
                                                       const gchar* channel,
                                                       bool warns) {
  g_return_if_fail(FL_IS_BINARY_MESSENGER(self));
  FL_BINARY_MESSENGER_GET_IFACE(self)->set_warns_on_channel_overflow(
      self, channel, warns);
}

// ------------------------------------------------------------ implementation

namespace {

struct Registration {
  FlBinaryMessengerMessageHandler handler;
  gpointer user_data;
  GDestroyNotify destroy_notify;
};

}  // namespace

#define FL_TYPE_BINARY_MESSENGER_IMPL fl_binary_messenger_impl_get_type()
G_DECLARE_FINAL_TYPE(FlBinaryMessengerImpl,
                     fl_binary_messenger_impl,
                     FL,
                     BINARY_MESSENGER_IMPL,
                     GObject)

struct _FlBinaryMessengerImpl {
  GObject parent_instance;
  FlEngine* engine;  // not owned; cleared when the engine shuts down
  std::map<std::string, Registration>* handlers;
};

static void fl_binary_messenger_impl_iface_init(
    FlBinaryMessengerInterface* iface);

G_DEFINE_TYPE_WITH_CODE(
    FlBinaryMessengerImpl,
    fl_binary_messenger_impl,
    G_TYPE_OBJECT,
    G_IMPLEMENT_INTERFACE(fl_binary_messenger_get_type(),
                          fl_binary_messenger_impl_iface_init))

static void Release(const Registration& r) {
  if (r.destroy_notify != nullptr) {
    r.destroy_notify(r.user_data);
  }
}

static void impl_set_handler(FlBinaryMessenger* messenger,
                             const gchar* channel,
                             FlBinaryMessengerMessageHandler handler,
                             gpointer user_data,
                             GDestroyNotify destroy_notify) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(messenger);
  if (self->engine == nullptr) {
    // The engine has shut down: nothing can arrive any more.
    if (handler != nullptr && destroy_notify != nullptr) {
      destroy_notify(user_data);
    }
    return;
  }
  // Store the new registration before releasing the old one: the old
  // destroy notify may drop the last reference to something that looks the
  // name up again.
  Registration old{};
  bool had_old = false;
  auto it = self->handlers->find(channel);
  if (it != self->handlers->end()) {
    old = it->second;
    had_old = true;
    self->handlers->erase(it);
  }
  if (handler != nullptr) {
    (*self->handlers)[channel] = {handler, user_data, destroy_notify};
  }
  if (had_old) {
    Release(old);
  }
}

static gboolean impl_send_response(FlBinaryMessenger* messenger,
                                   FlBinaryMessengerResponseHandle* handle,
                                   GBytes* response,
                                   GError** error) {
  return handle_respond(handle, response, error);
}

static void send_reply_cb(GBytes* reply, const GError* error, gpointer data) {
  GTask* task = G_TASK(data);
  if (reply != nullptr) {
    g_task_return_pointer(task, g_bytes_ref(reply),
                          reinterpret_cast<GDestroyNotify>(g_bytes_unref));
  } else {
    g_task_return_error(task, g_error_copy(error));
  }
  g_object_unref(task);
}

static void ignore_reply_cb(GBytes* reply, const GError* error, gpointer data) {
}

static void impl_send_on_channel(FlBinaryMessenger* messenger,
                                 const gchar* channel,
                                 GBytes* message,
                                 GCancellable* cancellable,
                                 GAsyncReadyCallback callback,
                                 gpointer user_data) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(messenger);
  g_autoptr(GBytes) empty = g_bytes_new(nullptr, 0);
  if (message == nullptr) {
    message = empty;
  }
  if (callback == nullptr) {
    if (self->engine != nullptr) {
      fl_engine_send_to_dart(self->engine, channel, message, ignore_reply_cb,
                             nullptr);
    }
    return;
  }
  GTask* task = g_task_new(self, cancellable, callback, user_data);
  if (self->engine == nullptr) {
    GError* error =
        g_error_new(G_IO_ERROR, G_IO_ERROR_CLOSED, "The engine has shut down");
    send_reply_cb(nullptr, error, task);
    g_error_free(error);
    return;
  }
  fl_engine_send_to_dart(self->engine, channel, message, send_reply_cb, task);
}

static GBytes* impl_send_on_channel_finish(FlBinaryMessenger* messenger,
                                           GAsyncResult* result,
                                           GError** error) {
  g_return_val_if_fail(g_task_is_valid(result, messenger), nullptr);
  return static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(result), error));
}

static void impl_resize_channel(FlBinaryMessenger* messenger,
                                const gchar* channel,
                                int64_t new_size) {}

static void impl_set_warns(FlBinaryMessenger* messenger,
                           const gchar* channel,
                           bool warns) {}

static void fl_binary_messenger_impl_iface_init(
    FlBinaryMessengerInterface* iface) {
  iface->set_message_handler_on_channel = impl_set_handler;
  iface->send_response = impl_send_response;
  iface->send_on_channel = impl_send_on_channel;
  iface->send_on_channel_finish = impl_send_on_channel_finish;
  iface->resize_channel = impl_resize_channel;
  iface->set_warns_on_channel_overflow = impl_set_warns;
}

static void fl_binary_messenger_impl_dispose(GObject* object) {
  fl_binary_messenger_shutdown(FL_BINARY_MESSENGER(object));
  G_OBJECT_CLASS(fl_binary_messenger_impl_parent_class)->dispose(object);
}

static void fl_binary_messenger_impl_finalize(GObject* object) {
  delete FL_BINARY_MESSENGER_IMPL(object)->handlers;
  G_OBJECT_CLASS(fl_binary_messenger_impl_parent_class)->finalize(object);
}

static void fl_binary_messenger_impl_class_init(
    FlBinaryMessengerImplClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_binary_messenger_impl_dispose;
  G_OBJECT_CLASS(klass)->finalize = fl_binary_messenger_impl_finalize;
}

static void fl_binary_messenger_impl_init(FlBinaryMessengerImpl* self) {
  self->handlers = new std::map<std::string, Registration>();
}

FlBinaryMessenger* fl_binary_messenger_new_for_engine(FlEngine* engine) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(
      g_object_new(FL_TYPE_BINARY_MESSENGER_IMPL, nullptr));
  self->engine = engine;
  return FL_BINARY_MESSENGER(self);
}

void fl_binary_messenger_deliver(FlBinaryMessenger* messenger,
                                 const gchar* channel,
                                 GBytes* message,
                                 FlReplyFn reply,
                                 gpointer reply_data) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(messenger);
  auto it = self->handlers->find(channel);
  if (it == self->handlers->end()) {
    g_autoptr(GBytes) empty = g_bytes_new(nullptr, 0);
    reply(empty, nullptr, reply_data);
    return;
  }
  FlBinaryMessengerResponseHandle* handle = FL_BINARY_MESSENGER_RESPONSE_HANDLE(
      g_object_new(fl_binary_messenger_response_handle_get_type(), nullptr));
  FlBinaryMessengerResponseHandlePrivate* priv =
      static_cast<FlBinaryMessengerResponseHandlePrivate*>(
          fl_binary_messenger_response_handle_get_instance_private(handle));
  priv->reply = reply;
  priv->reply_data = reply_data;
  // Keep the messenger alive through the handler even if it shuts down the
  // engine.
  g_autoptr(GObject) keep = G_OBJECT(g_object_ref(self));
  Registration r = it->second;
  r.handler(messenger, channel, message, handle, r.user_data);
  g_object_unref(handle);
}

void fl_binary_messenger_shutdown(FlBinaryMessenger* messenger) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(messenger);
  self->engine = nullptr;
  // Destroy notifies may re-enter (a closing channel drops its last
  // reference), so take the table out before releasing anything.
  std::map<std::string, Registration> handlers;
  handlers.swap(*self->handlers);
  for (auto& entry : handlers) {
    Release(entry.second);
  }
}

void fl_binary_messenger_remove_if_owned(FlBinaryMessenger* messenger,
                                         const gchar* channel,
                                         gpointer user_data) {
  FlBinaryMessengerImpl* self = FL_BINARY_MESSENGER_IMPL(messenger);
  auto it = self->handlers->find(channel);
  if (it == self->handlers->end() || it->second.user_data != user_data) {
    return;
  }
  Registration r = it->second;
  self->handlers->erase(it);
  Release(r);
}
