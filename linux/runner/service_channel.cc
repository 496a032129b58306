#include "service_channel.h"

namespace {

// Called when the channel's handler goes: replaced, or the channel closed.
void MarkClosed(gpointer open) {
  *static_cast<bool*>(open) = false;
}

}  // namespace

FlMethodChannel* service_channel_open(FlBinaryMessenger* messenger,
                                      const gchar* name,
                                      FlMethodChannelMethodCallHandler handler,
                                      bool* open) {
  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  FlMethodChannel* channel =
      fl_method_channel_new(messenger, name, FL_METHOD_CODEC(codec));
  *open = true;
  fl_method_channel_set_method_call_handler(channel, handler, open, MarkClosed);
  return channel;
}

void service_channel_close(FlMethodChannel** channel, bool* open) {
  FlMethodChannel* old = *channel;
  *channel = nullptr;
  if (old == nullptr) {
    return;
  }
  if (*open) {
    // The messenger keeps a registered channel alive on its own; removing
    // the handler is what stops the calls (and marks it closed).
    fl_method_channel_set_method_call_handler(old, nullptr, nullptr, nullptr);
  }
  g_object_unref(old);
}
