#include "dart_side.h"

#include "../src/fl_private.h"

namespace fl_testing {

namespace {

// How long a test waits for something before it reports it missing. Only a
// guard against hanging: nothing asserts on how long things take.
constexpr guint kGuardSeconds = 10;

bool SpinUntil(const std::function<bool()>& done) {
  bool expired = false;
  guint guard = g_timeout_add_seconds(
      kGuardSeconds,
      [](gpointer data) -> gboolean {
        *static_cast<bool*>(data) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  while (!done() && !expired) {
    g_main_context_iteration(nullptr, TRUE);
  }
  if (!expired) {
    g_source_remove(guard);
  }
  return done();
}

struct RawReply {
  bool arrived = false;
  std::vector<uint8_t> bytes;
};

void RawReplyCb(GBytes* reply, gpointer data) {
  RawReply* r = static_cast<RawReply*>(data);
  gsize n;
  const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(reply, &n));
  r->bytes.assign(p, p + n);
  r->arrived = true;
}

}  // namespace

ValuePtr Adopt(FlValue* value) {
  if (value == nullptr) {
    return nullptr;
  }
  return ValuePtr(value, fl_value_unref);
}

DartSide::DartSide(FlEngine* engine)
    : engine_(FL_ENGINE(g_object_ref(engine))),
      codec_(FL_METHOD_CODEC(fl_standard_method_codec_new())) {
  fl_dart_side_set_message_handler(engine_, nullptr, MessageCb, this, nullptr);
}

DartSide::~DartSide() {
  fl_dart_side_set_message_handler(engine_, nullptr, nullptr, nullptr, nullptr);
  g_object_unref(codec_);
  g_object_unref(engine_);
}

void DartSide::Drain() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

std::vector<uint8_t> DartSide::Send(const std::string& channel,
                                    const std::vector<uint8_t>& message) {
  RawReply* reply = new RawReply();
  g_autoptr(GBytes) bytes = g_bytes_new(message.data(), message.size());
  fl_dart_side_send(engine_, channel.c_str(), bytes, RawReplyCb, reply);
  SpinUntil([&] { return reply->arrived; });
  std::vector<uint8_t> out = reply->bytes;
  if (reply->arrived) {
    delete reply;
  }  // else: still referenced by the pending send; leaked on purpose
  return out;
}

Reply DartSide::Call(const std::string& channel,
                     const std::string& method,
                     FlValue* args) {
  g_autoptr(GBytes) call =
      fl_method_codec_encode_method_call(codec_, method.c_str(), args, nullptr);
  RawReply* raw = new RawReply();
  fl_dart_side_send(engine_, channel.c_str(), call, RawReplyCb, raw);
  Reply reply;
  if (!SpinUntil([&] { return raw->arrived; })) {
    return reply;  // kNone; `raw` stays with the pending send
  }
  g_autoptr(GBytes) bytes = g_bytes_new(raw->bytes.data(), raw->bytes.size());
  delete raw;
  g_autoptr(GError) error = nullptr;
  g_autoptr(FlMethodResponse) response =
      fl_method_codec_decode_response(codec_, bytes, &error);
  if (response == nullptr) {
    reply.kind = Reply::Kind::kUndecodable;
  } else if (FL_IS_METHOD_SUCCESS_RESPONSE(response)) {
    reply.kind = Reply::Kind::kSuccess;
    FlValue* v = fl_method_success_response_get_result(
        FL_METHOD_SUCCESS_RESPONSE(response));
    reply.value = Adopt(v != nullptr ? fl_value_ref(v) : nullptr);
  } else if (FL_IS_METHOD_ERROR_RESPONSE(response)) {
    FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(response);
    reply.kind = Reply::Kind::kError;
    reply.code = fl_method_error_response_get_code(e);
    if (const gchar* m = fl_method_error_response_get_message(e)) {
      reply.message = m;
    }
    FlValue* d = fl_method_error_response_get_details(e);
    reply.details = Adopt(d != nullptr ? fl_value_ref(d) : nullptr);
  } else {
    reply.kind = Reply::Kind::kNotImplemented;
  }
  return reply;
}

void DartSide::MessageCb(FlEngine* engine,
                         const gchar* channel,
                         GBytes* message,
                         guint64 response_id,
                         gpointer user_data) {
  DartSide* self = static_cast<DartSide*>(user_data);
  g_autofree gchar* name = nullptr;
  FlValue* args = nullptr;
  if (!fl_method_codec_decode_method_call(self->codec_, message, &name, &args,
                                          nullptr)) {
    self->undecodable_++;
    fl_dart_side_respond(engine, response_id, nullptr);
    return;
  }
  self->invocations_.push_back({channel, name, Adopt(args), response_id});
}

std::optional<Invocation> DartSide::WaitForInvocation(
    const std::string& channel,
    const std::string& method) {
  std::optional<Invocation> found;
  SpinUntil([&] {
    for (const Invocation& i : invocations_) {
      if (i.channel == channel && i.method == method) {
        found = i;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool DartSide::RespondSuccess(const Invocation& call, FlValue* result) {
  g_autoptr(GBytes) bytes =
      fl_method_codec_encode_success_envelope(codec_, result, nullptr);
  return fl_dart_side_respond(engine_, call.response_id, bytes);
}

bool DartSide::RespondError(const Invocation& call,
                            const char* code,
                            const char* message,
                            FlValue* details) {
  g_autoptr(GBytes) bytes = fl_method_codec_encode_error_envelope(
      codec_, code, message, details, nullptr);
  return fl_dart_side_respond(engine_, call.response_id, bytes);
}

bool DartSide::RespondNotImplemented(const Invocation& call) {
  return fl_dart_side_respond(engine_, call.response_id, nullptr);
}

HeadlessEngine::HeadlessEngine() {
  g_autoptr(FlDartProject) project = fl_dart_project_new();
  engine_ = fl_engine_new_headless(project);
  dart_ = std::make_unique<DartSide>(engine_);
}

HeadlessEngine::~HeadlessEngine() {
  dart_.reset();
  g_object_unref(engine_);
  DartSide::Drain();
}

}  // namespace fl_testing
