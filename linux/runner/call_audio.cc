#include "call_audio.h"

#include <cstring>

namespace {

constexpr char kChannelName[] = "flutter_callkit_incoming";
constexpr char kGetCurrentOutputMethod[] = "getCurrentOutput";

FlMethodChannel* g_channel = nullptr;

// Called for every method call from Dart on the call-audio channel.
void HandleMethodCall(FlMethodChannel* channel,
                      FlMethodCall* method_call,
                      gpointer user_data) {
  g_autoptr(GError) error = nullptr;
  gboolean sent;
  if (strcmp(fl_method_call_get_name(method_call), kGetCurrentOutputMethod) ==
      0) {
    // No output is reported on this desktop.
    g_autoptr(FlValue) none = fl_value_new_null();
    sent = fl_method_call_respond_success(method_call, none, &error);
  } else {
    sent = fl_method_call_respond_not_implemented(method_call, &error);
  }
  if (!sent) {
    g_warning("call_audio: failed to respond to method call: %s",
              error != nullptr ? error->message : "unknown");
  }
}

void ReleaseChannel() {
  if (g_channel == nullptr) {
    return;
  }
  FlMethodChannel* channel = g_channel;
  g_channel = nullptr;
  // The messenger keeps a registered channel alive on its own; removing the
  // handler is what stops the calls.
  fl_method_channel_set_method_call_handler(channel, nullptr, nullptr, nullptr);
  g_object_unref(channel);
}

}  // namespace

void call_audio_register(FlBinaryMessenger* messenger) {
  if (messenger == nullptr) {
    return;
  }
  ReleaseChannel();
  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  g_channel =
      fl_method_channel_new(messenger, kChannelName, FL_METHOD_CODEC(codec));
  fl_method_channel_set_method_call_handler(g_channel, HandleMethodCall,
                                            nullptr, nullptr);
}

void call_audio_shutdown(void) {
  ReleaseChannel();
}
