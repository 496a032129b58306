#include "external_link.h"

#include <cstring>

namespace {

constexpr char kChannelName[] = "com.velmo.pro/external_link";
constexpr char kTakePendingMethod[] = "takePending";
constexpr char kOpenMethod[] = "open";
constexpr char kScheme[] = "velmo:";
constexpr size_t kMaxLinkBytes = 2048;
constexpr guint kMaxPending = 8;

FlMethodChannel* g_channel = nullptr;
GPtrArray* g_pending = nullptr;  // owned strings, oldest first
gboolean g_listening = FALSE;

// Called for every method call from Dart on the link channel.
void method_call_cb(FlMethodChannel* channel,
                    FlMethodCall* method_call,
                    gpointer user_data) {
  if (strcmp(fl_method_call_get_name(method_call), kTakePendingMethod) != 0) {
    fl_method_call_respond_not_implemented(method_call, nullptr);
    return;
  }
  g_listening = TRUE;
  g_autoptr(FlValue) links = fl_value_new_list();
  if (g_pending != nullptr) {
    for (guint i = 0; i < g_pending->len; i++) {
      fl_value_append_take(links, fl_value_new_string(static_cast<const gchar*>(
                                      g_ptr_array_index(g_pending, i))));
    }
    g_ptr_array_set_size(g_pending, 0);
  }
  // Nothing useful can be done if the answer cannot be sent.
  fl_method_call_respond_success(method_call, links, nullptr);
}

}  // namespace

gboolean external_link_is_velmo(const gchar* link) {
  if (link == nullptr) {
    return FALSE;
  }
  const size_t prefix_len = strlen(kScheme);
  // strnlen: a link far over the limit need not be measured in full.
  const size_t len = strnlen(link, kMaxLinkBytes + 1);
  return len > prefix_len && len <= kMaxLinkBytes &&
         g_ascii_strncasecmp(link, kScheme, prefix_len) == 0;
}

const gchar* external_link_in_arguments(gchar** arguments) {
  if (arguments == nullptr) {
    return nullptr;
  }
  for (gchar** a = arguments; *a != nullptr; a++) {
    if (external_link_is_velmo(*a)) {
      return *a;
    }
  }
  return nullptr;
}

void external_link_receive(const gchar* link) {
  if (!external_link_is_velmo(link)) {
    return;
  }
  if (g_listening && g_channel != nullptr) {
    g_autoptr(FlValue) value = fl_value_new_string(link);
    fl_method_channel_invoke_method(g_channel, kOpenMethod, value, nullptr,
                                    nullptr, nullptr);
    return;
  }
  if (g_pending == nullptr) {
    g_pending = g_ptr_array_new_with_free_func(g_free);
  }
  if (g_pending->len < kMaxPending) {
    g_ptr_array_add(g_pending, g_strdup(link));
  }
}

void external_link_register(FlBinaryMessenger* messenger) {
  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  FlMethodChannel* old = g_channel;
  g_channel =
      fl_method_channel_new(messenger, kChannelName, FL_METHOD_CODEC(codec));
  g_clear_object(&old);
  fl_method_channel_set_method_call_handler(g_channel, method_call_cb, nullptr,
                                            nullptr);
}

void external_link_shutdown(void) {
  FlMethodChannel* channel = g_channel;
  g_channel = nullptr;
  if (channel != nullptr) {
    // A registered channel outlives our reference; drop the handler so no
    // call reaches this module after shutdown.
    fl_method_channel_set_method_call_handler(channel, nullptr, nullptr,
                                              nullptr);
    g_object_unref(channel);
  }
  g_clear_pointer(&g_pending, g_ptr_array_unref);
  g_listening = FALSE;
}
