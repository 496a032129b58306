// The engine: owns the messenger and plays the bridge to the Dart side,
// which is either a test in the same process (fl_dart_side.h) or a driver
// in another process reached over a Unix socket (dart_link.h).
#include <flutter_linux/flutter_linux.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../testing/fl_dart_side.h"
#include "dart_link.h"
#include "fl_private.h"

using fl_standin::DartLink;
using fl_standin::Frame;
using fl_standin::FrameKind;

namespace {

// Environment variable naming the Unix socket of an out-of-process Dart side.
constexpr char kSocketVariable[] = "FL_DART_SIDE_SOCKET";
constexpr char kPlatformChannel[] = "flutter/platform";
// Test seam: a driver reads the host's environment as the process sees it
// now (/proc/<pid>/environ shows only the initial one).
constexpr char kGetenvChannel[] = "flutter_standin/getenv";
constexpr char kAppExitRequest[] =
    "{\"method\":\"System.requestAppExit\",\"args\":{\"type\":\"cancelable\"}}";

struct DartHandler {
  FlDartSideMessageHandler handler;
  gpointer user_data;
  GDestroyNotify destroy_notify;
};

struct Pending {
  FlReplyFn reply;
  gpointer reply_data;
  bool via_link;
};

class LinkDelegate : public DartLink::Delegate {
 public:
  explicit LinkDelegate(FlEngine* engine) : engine_(engine) {}
  void OnFrames(std::vector<Frame> frames, bool disconnected) override;

 private:
  FlEngine* engine_;
};

}  // namespace

struct _FlEngine {
  GObject parent_instance;
  FlDartProject* project;
  FlBinaryMessenger* messenger;
  gboolean started;
  gboolean shut_down;
  // Set once the Dart side said "System.initializationComplete".
  gboolean dart_initialized;
  uint32_t next_id;
  std::map<uint32_t, Pending>* pending;
  std::map<std::string, DartHandler>* dart_handlers;  // "" = any channel
  std::vector<std::string>* registrars;
  LinkDelegate* link_delegate;
  DartLink* link;
  // The view waiting for the first frame, and whether Dart has drawn it.
  GSourceFunc first_frame_fn;
  gpointer first_frame_data;
  guint first_frame_source;
  gboolean dart_drew;
};

G_DEFINE_TYPE(FlEngine, fl_engine, G_TYPE_OBJECT)

namespace {

struct LaterReply {
  FlReplyFn reply;
  gpointer reply_data;
  GBytes* bytes;
  GError* error;
};

gboolean RunReply(gpointer data) {
  LaterReply* r = static_cast<LaterReply*>(data);
  r->reply(r->bytes, r->error, r->reply_data);
  if (r->bytes != nullptr) {
    g_bytes_unref(r->bytes);
  }
  g_clear_error(&r->error);
  delete r;
  return G_SOURCE_REMOVE;
}

void ReplyLater(FlReplyFn reply,
                gpointer data,
                GBytes* bytes,
                const GError* error) {
  fl_run_later(RunReply,
               new LaterReply{
                   reply, data, bytes != nullptr ? g_bytes_ref(bytes) : nullptr,
                   error != nullptr ? g_error_copy(error) : nullptr});
}

GBytes* EmptyBytes() {
  return g_bytes_new(nullptr, 0);
}

// Completes a host-to-Dart message with the Dart side's reply, or with
// `error` when it cannot come any more.
bool Complete(FlEngine* self, uint32_t id, GBytes* reply, const GError* error) {
  auto it = self->pending->find(id);
  if (it == self->pending->end()) {
    return false;
  }
  Pending p = it->second;
  self->pending->erase(it);
  ReplyLater(p.reply, p.reply_data, reply, error);
  return true;
}

void FailPending(FlEngine* self, bool only_link, const char* why) {
  g_autoptr(GError) error =
      g_error_new(G_IO_ERROR, G_IO_ERROR_CLOSED, "%s", why);
  std::vector<uint32_t> ids;
  for (auto& [id, p] : *self->pending) {
    if (!only_link || p.via_link) {
      ids.push_back(id);
    }
  }
  for (uint32_t id : ids) {
    Complete(self, id, nullptr, error);
  }
}

const DartHandler* FindDartHandler(FlEngine* self, const gchar* channel) {
  auto it = self->dart_handlers->find(channel);
  if (it == self->dart_handlers->end()) {
    it = self->dart_handlers->find("");
  }
  return it == self->dart_handlers->end() ? nullptr : &it->second;
}

bool HasDartPeer(FlEngine* self, const gchar* channel) {
  return self->link != nullptr || FindDartHandler(self, channel) != nullptr;
}

void SendToLink(FlEngine* self, Frame frame) {
  if (self->link != nullptr) {
    self->link->Send(frame);
  }
}

struct LinkReplyTarget {
  FlEngine* engine;  // reference held
  uint32_t id;
};

// Sends the host's reply to a call that came over the socket.
void LinkReplyCb(GBytes* reply, const GError* error, gpointer data) {
  LinkReplyTarget* target = static_cast<LinkReplyTarget*>(data);
  Frame frame{FrameKind::kReply, target->id, "", {}};
  if (reply != nullptr) {
    gsize n;
    const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(reply, &n));
    frame.payload.assign(p, p + n);
  }
  SendToLink(target->engine, std::move(frame));
  g_object_unref(target->engine);
  delete target;
}

struct DartDelivery {
  FlEngine* engine;  // reference held
  std::string channel;
  GBytes* message;
  uint32_t id;
};

// Hands a host-to-Dart message to the in-process Dart handler.
gboolean DeliverToDartHandler(gpointer data) {
  DartDelivery* d = static_cast<DartDelivery*>(data);
  const DartHandler* h = FindDartHandler(d->engine, d->channel.c_str());
  if (h != nullptr) {
    h->handler(d->engine, d->channel.c_str(), d->message, d->id, h->user_data);
  } else {
    g_autoptr(GBytes) empty = EmptyBytes();
    Complete(d->engine, d->id, empty, nullptr);
  }
  g_bytes_unref(d->message);
  g_object_unref(d->engine);
  delete d;
  return G_SOURCE_REMOVE;
}

void QuitApplication() {
  GApplication* app = g_application_get_default();
  if (app == nullptr) {
    return;
  }
  if (GTK_IS_APPLICATION(app)) {
    // Detach the windows first so that quitting does not wait on them.
    GList* windows =
        g_list_copy(gtk_application_get_windows(GTK_APPLICATION(app)));
    for (GList* l = windows; l != nullptr; l = l->next) {
      gtk_window_set_application(GTK_WINDOW(l->data), nullptr);
    }
    g_list_free(windows);
  }
  g_application_quit(app);
}

// Called with Dart's answer to "System.requestAppExit".
void AppExitReplyCb(GBytes* reply, const GError* error, gpointer data) {
  if (reply != nullptr) {
    gsize n;
    const char* p = static_cast<const char*>(g_bytes_get_data(reply, &n));
    std::string text(p != nullptr ? p : "", n);
    if (text.find("\"cancel\"") != std::string::npos) {
      return;
    }
  }
  QuitApplication();
}

gboolean RunFirstFrame(gpointer data) {
  FlEngine* self = FL_ENGINE(data);
  self->first_frame_source = 0;
  GSourceFunc fn = self->first_frame_fn;
  self->first_frame_fn = nullptr;
  if (fn != nullptr) {
    fn(self->first_frame_data);
  }
  return G_SOURCE_REMOVE;
}

void ScheduleFirstFrame(FlEngine* self) {
  if (self->first_frame_fn != nullptr && self->first_frame_source == 0) {
    self->first_frame_source = g_idle_add(RunFirstFrame, self);
  }
}

}  // namespace

void LinkDelegate::OnFrames(std::vector<Frame> frames, bool disconnected) {
  g_autoptr(FlEngine) self = FL_ENGINE(g_object_ref(engine_));
  for (Frame& f : frames) {
    if (self->shut_down) {
      break;
    }
    switch (f.kind) {
      case FrameKind::kCall: {
        g_autoptr(GBytes) message =
            g_bytes_new(f.payload.data(), f.payload.size());
        fl_engine_dispatch_from_dart(
            self, f.name.c_str(), message, LinkReplyCb,
            new LinkReplyTarget{FL_ENGINE(g_object_ref(self)), f.id});
        break;
      }
      case FrameKind::kReply: {
        g_autoptr(GBytes) reply =
            g_bytes_new(f.payload.data(), f.payload.size());
        if (!Complete(self, f.id, reply, nullptr)) {
          g_warning(
              "flutter stand-in: dropped a malformed frame from the "
              "Dart side: reply to unknown id %u",
              f.id);
        }
        break;
      }
      case FrameKind::kFrameReady:
        self->dart_drew = TRUE;
        ScheduleFirstFrame(self);
        break;
      default:
        g_warning(
            "flutter stand-in: dropped a malformed frame from the Dart "
            "side: kind %d is sent only by the host",
            static_cast<int>(f.kind));
        break;
    }
  }
  if (disconnected && self->link != nullptr) {
    g_message("flutter stand-in: the Dart side disconnected");
    delete self->link;
    self->link = nullptr;
    FailPending(self, true, "The Dart side disconnected");
    ScheduleFirstFrame(self);  // nobody left to wait for
  }
}

void fl_run_later(GSourceFunc fn, gpointer data) {
  GSource* source = g_idle_source_new();
  g_source_set_callback(source, fn, data, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

static void fl_engine_dispose(GObject* object) {
  FlEngine* self = FL_ENGINE(object);
  fl_engine_shutdown(self);
  g_clear_object(&self->messenger);
  g_clear_object(&self->project);
  G_OBJECT_CLASS(fl_engine_parent_class)->dispose(object);
}

static void fl_engine_finalize(GObject* object) {
  FlEngine* self = FL_ENGINE(object);
  delete self->pending;
  delete self->dart_handlers;
  delete self->registrars;
  delete self->link_delegate;
  G_OBJECT_CLASS(fl_engine_parent_class)->finalize(object);
}

static void fl_engine_class_init(FlEngineClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_engine_dispose;
  G_OBJECT_CLASS(klass)->finalize = fl_engine_finalize;
}

static void fl_engine_init(FlEngine* self) {
  self->pending = new std::map<uint32_t, Pending>();
  self->dart_handlers = new std::map<std::string, DartHandler>();
  self->registrars = new std::vector<std::string>();
  self->link_delegate = new LinkDelegate(self);
}

FlEngine* fl_engine_new(FlDartProject* project) {
  g_return_val_if_fail(FL_IS_DART_PROJECT(project), nullptr);
  FlEngine* self = FL_ENGINE(g_object_new(fl_engine_get_type(), nullptr));
  self->project = FL_DART_PROJECT(g_object_ref(project));
  self->messenger = fl_binary_messenger_new_for_engine(self);
  return self;
}

FlEngine* fl_engine_new_headless(FlDartProject* project) {
  FlEngine* self = fl_engine_new(project);
  self->started = TRUE;
  return self;
}

FlBinaryMessenger* fl_engine_get_binary_messenger(FlEngine* self) {
  g_return_val_if_fail(FL_IS_ENGINE(self), nullptr);
  return self->messenger;
}

void fl_engine_start(FlEngine* self) {
  if (self->started || self->shut_down) {
    return;
  }
  self->started = TRUE;
  const char* path = g_getenv(kSocketVariable);
  if (path == nullptr || path[0] == '\0') {
    return;
  }
  self->link = DartLink::Connect(path, self->link_delegate).release();
  if (self->link == nullptr) {
    return;
  }
  // Tell the driver what the Dart entrypoint receives, and who we are.
  g_auto(GStrv) args = fl_dart_project_dup_entrypoint_arguments(self->project);
  g_autoptr(FlValue) info = fl_value_new_map();
  FlValue* list = fl_value_new_list();
  for (gchar** a = args; *a != nullptr; a++) {
    fl_value_append_take(list, fl_value_new_string(*a));
  }
  fl_value_set_string_take(info, "entrypointArguments", list);
  fl_value_set_string_take(info, "pid", fl_value_new_int(getpid()));
  g_autoptr(FlStandardMessageCodec) codec = fl_standard_message_codec_new();
  g_autoptr(GBytes) payload =
      fl_message_codec_encode_message(FL_MESSAGE_CODEC(codec), info, nullptr);
  gsize n;
  const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(payload, &n));
  SendToLink(self, Frame{FrameKind::kStart, 0, "", {p, p + n}});
}

void fl_engine_shutdown(FlEngine* self) {
  if (self->shut_down) {
    return;
  }
  self->shut_down = TRUE;
  self->first_frame_fn = nullptr;
  if (self->first_frame_source != 0) {
    g_source_remove(self->first_frame_source);
    self->first_frame_source = 0;
  }
  if (self->link != nullptr) {
    delete self->link;
    self->link = nullptr;
  }
  FailPending(self, false, "The engine shut down");
  if (self->messenger != nullptr) {
    fl_binary_messenger_shutdown(self->messenger);
  }
  std::map<std::string, DartHandler> handlers;
  handlers.swap(*self->dart_handlers);
  for (auto& [name, h] : handlers) {
    if (h.destroy_notify != nullptr) {
      h.destroy_notify(h.user_data);
    }
  }
}

void fl_engine_send_to_dart(FlEngine* self,
                            const gchar* channel,
                            GBytes* message,
                            FlReplyFn reply,
                            gpointer reply_data) {
  if (self->shut_down) {
    g_autoptr(GError) error =
        g_error_new(G_IO_ERROR, G_IO_ERROR_CLOSED, "The engine shut down");
    ReplyLater(reply, reply_data, nullptr, error);
    return;
  }
  uint32_t id = ++self->next_id;
  bool in_process = FindDartHandler(self, channel) != nullptr;
  bool via_link = !in_process && self->link != nullptr;
  (*self->pending)[id] = Pending{reply, reply_data, via_link};
  if (in_process) {
    fl_run_later(DeliverToDartHandler,
                 new DartDelivery{FL_ENGINE(g_object_ref(self)), channel,
                                  g_bytes_ref(message), id});
  } else if (via_link) {
    gsize n;
    const uint8_t* p =
        static_cast<const uint8_t*>(g_bytes_get_data(message, &n));
    if (!self->link->Send(Frame{FrameKind::kCall, id, channel, {p, p + n}})) {
      g_autoptr(GError) error =
          g_error_new(G_IO_ERROR, G_IO_ERROR_CLOSED, "The Dart side is gone");
      Complete(self, id, nullptr, error);
    }
  } else {
    // A Dart side with no handler for the channel answers with nothing.
    g_autoptr(GBytes) empty = EmptyBytes();
    Complete(self, id, empty, nullptr);
  }
}

void fl_engine_dispatch_from_dart(FlEngine* self,
                                  const gchar* channel,
                                  GBytes* message,
                                  FlReplyFn reply,
                                  gpointer reply_data) {
  if (strcmp(channel, kPlatformChannel) == 0) {
    // The only platform-channel traffic the host side acts on is Dart's
    // readiness, which decides how a window close is handled.
    gsize n;
    const char* p = static_cast<const char*>(g_bytes_get_data(message, &n));
    std::string text(p != nullptr ? p : "", n);
    if (text.find("\"System.initializationComplete\"") != std::string::npos) {
      self->dart_initialized = TRUE;
      g_autoptr(GBytes) ok = g_bytes_new_static("[null]", 6);
      reply(ok, nullptr, reply_data);
      return;
    }
    g_autoptr(GBytes) empty = EmptyBytes();
    reply(empty, nullptr, reply_data);
    return;
  }
  if (strcmp(channel, kGetenvChannel) == 0) {
    g_autoptr(FlStandardMessageCodec) codec = fl_standard_message_codec_new();
    g_autoptr(FlValue) name = fl_message_codec_decode_message(
        FL_MESSAGE_CODEC(codec), message, nullptr);
    g_autoptr(FlValue) value = nullptr;
    if (name != nullptr && fl_value_get_type(name) == FL_VALUE_TYPE_STRING) {
      const gchar* v = g_getenv(fl_value_get_string(name));
      value = v != nullptr ? fl_value_new_string(v) : nullptr;
    }
    g_autoptr(GBytes) answer = fl_message_codec_encode_message(
        FL_MESSAGE_CODEC(codec), value, nullptr);
    reply(answer, nullptr, reply_data);
    return;
  }
  if (self->shut_down || self->messenger == nullptr) {
    g_autoptr(GBytes) empty = EmptyBytes();
    reply(empty, nullptr, reply_data);
    return;
  }
  fl_binary_messenger_deliver(self->messenger, channel, message, reply,
                              reply_data);
}

void fl_engine_note_registrar(FlEngine* self, const gchar* name) {
  self->registrars->push_back(name);
  SendToLink(self, Frame{FrameKind::kRegistrar, 0, name, {}});
}

void fl_engine_note_first_frame(FlEngine* self) {
  SendToLink(self, Frame{FrameKind::kFirstFrame, 0, "", {}});
}

void fl_engine_request_first_frame(FlEngine* self,
                                   GSourceFunc fn,
                                   gpointer data) {
  if (self->shut_down) {
    return;
  }
  self->first_frame_fn = fn;
  self->first_frame_data = data;
  if (self->link == nullptr || self->dart_drew) {
    ScheduleFirstFrame(self);
  }
}

void fl_engine_request_app_exit(FlEngine* self) {
  // Without a Dart side that announced readiness nobody can refuse.
  if (!self->dart_initialized || !HasDartPeer(self, kPlatformChannel)) {
    QuitApplication();
    return;
  }
  g_autoptr(GBytes) message =
      g_bytes_new_static(kAppExitRequest, strlen(kAppExitRequest));
  fl_engine_send_to_dart(self, kPlatformChannel, message, AppExitReplyCb,
                         nullptr);
}

// ------------------------------------------------------------------ test seam

namespace {

struct SeamReply {
  FlDartSideReplyCallback callback;
  gpointer user_data;
};

void SeamReplyCb(GBytes* reply, const GError* error, gpointer data) {
  SeamReply* r = static_cast<SeamReply*>(data);
  g_autoptr(GBytes) empty = EmptyBytes();
  r->callback(reply != nullptr ? reply : empty, r->user_data);
  delete r;
}

struct SeamSend {
  FlEngine* engine;  // reference held
  std::string channel;
  GBytes* message;
  SeamReply* reply;
};

gboolean RunSeamSend(gpointer data) {
  SeamSend* s = static_cast<SeamSend*>(data);
  // The reply goes through the main loop too, never inside the handler.
  fl_engine_dispatch_from_dart(
      s->engine, s->channel.c_str(), s->message,
      [](GBytes* reply, const GError* error, gpointer d) {
        ReplyLater(SeamReplyCb, d, reply, error);
      },
      s->reply);
  g_bytes_unref(s->message);
  g_object_unref(s->engine);
  delete s;
  return G_SOURCE_REMOVE;
}

}  // namespace

void fl_dart_side_send(FlEngine* engine,
                       const gchar* channel,
                       GBytes* message,
                       FlDartSideReplyCallback callback,
                       gpointer user_data) {
  g_return_if_fail(FL_IS_ENGINE(engine));
  g_return_if_fail(channel != nullptr && callback != nullptr);
  g_autoptr(GBytes) empty = EmptyBytes();
  fl_run_later(RunSeamSend,
               new SeamSend{FL_ENGINE(g_object_ref(engine)), channel,
                            g_bytes_ref(message != nullptr ? message : empty),
                            new SeamReply{callback, user_data}});
}

void fl_dart_side_set_message_handler(FlEngine* engine,
                                      const gchar* channel,
                                      FlDartSideMessageHandler handler,
                                      gpointer user_data,
                                      GDestroyNotify destroy_notify) {
  g_return_if_fail(FL_IS_ENGINE(engine));
  std::string key = channel != nullptr ? channel : "";
  DartHandler old{};
  auto it = engine->dart_handlers->find(key);
  if (it != engine->dart_handlers->end()) {
    old = it->second;
    engine->dart_handlers->erase(it);
  }
  if (handler != nullptr) {
    (*engine->dart_handlers)[key] = {handler, user_data, destroy_notify};
  }
  if (old.destroy_notify != nullptr) {
    old.destroy_notify(old.user_data);
  }
}

gboolean fl_dart_side_respond(FlEngine* engine,
                              guint64 response_id,
                              GBytes* reply) {
  g_return_val_if_fail(FL_IS_ENGINE(engine), FALSE);
  if (response_id > UINT32_MAX) {
    return FALSE;
  }
  g_autoptr(GBytes) empty = EmptyBytes();
  return Complete(engine, static_cast<uint32_t>(response_id),
                  reply != nullptr ? reply : empty, nullptr);
}

gchar** fl_dart_side_dup_entrypoint_arguments(FlEngine* engine) {
  g_return_val_if_fail(FL_IS_ENGINE(engine), nullptr);
  return fl_dart_project_dup_entrypoint_arguments(engine->project);
}

gchar** fl_dart_side_dup_registrar_names(FlEngine* engine) {
  g_return_val_if_fail(FL_IS_ENGINE(engine), nullptr);
  g_autoptr(GStrvBuilder) builder = g_strv_builder_new();
  for (const std::string& name : *engine->registrars) {
    g_strv_builder_add(builder, name.c_str());
  }
  return g_strv_builder_end(builder);
}

void fl_dart_side_shutdown_engine(FlEngine* engine) {
  g_return_if_fail(FL_IS_ENGINE(engine));
  fl_engine_shutdown(engine);
}
