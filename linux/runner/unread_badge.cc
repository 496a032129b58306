#include "unread_badge.h"

#include <cstring>

#include "service_channel.h"

#include "tray_icon.h"

namespace {

constexpr char kChannelName[] = "com.velmo.pro/badge_manager";
constexpr char kMethodName[] = "updateBadge";
constexpr char kLauncherEntryInterface[] = "com.canonical.Unity.LauncherEntry";
constexpr char kLauncherEntrySignal[] = "Update";
constexpr char kBadArgsError[] = "bad_args";
constexpr char kBadArgsMessage[] = "updateBadge expects an integer count";
constexpr gint64 kMaxCount = 9999;

gchar* g_app_uri = nullptr;
gchar* g_object_path = nullptr;
FlMethodChannel* g_channel = nullptr;
bool g_channel_open = false;
GDBusConnection* g_connection = nullptr;
bool g_bus_resolved = false;
gint64 g_last_count = 0;

gchar* AppUri(const gchar* app_id) {
  return g_strdup_printf("application://%s.desktop", app_id);
}

// The string hash launchers compute for the URI: start at 5381, then for
// each byte (as a signed char) multiply by 33 and add it, modulo 2^32.
guint32 UriHash(const gchar* uri) {
  guint32 hash = 5381;
  for (const signed char* p = reinterpret_cast<const signed char*>(uri);
       *p != 0; p++) {
    hash = hash * 33 + static_cast<guint32>(*p);
  }
  return hash;
}

void EmitCount(gint64 count) {
  if (g_connection == nullptr || g_app_uri == nullptr ||
      g_object_path == nullptr) {
    return;
  }
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&properties, "{sv}", "count",
                        g_variant_new_int64(count));
  g_variant_builder_add(&properties, "{sv}", "count-visible",
                        g_variant_new_boolean(count > 0));
  g_autoptr(GError) error = nullptr;
  if (!g_dbus_connection_emit_signal(
          g_connection, nullptr, g_object_path, kLauncherEntryInterface,
          kLauncherEntrySignal,
          g_variant_new("(sa{sv})", g_app_uri, &properties), &error)) {
    g_warning("unread_badge: failed to emit LauncherEntry update: %s",
              error != nullptr ? error->message : "unknown");
  }
}

FlMethodResponse* UpdateBadge(FlValue* args) {
  if (args == nullptr || fl_value_get_type(args) != FL_VALUE_TYPE_INT) {
    return FL_METHOD_RESPONSE(
        fl_method_error_response_new(kBadArgsError, kBadArgsMessage, nullptr));
  }
  if (!g_bus_resolved) {
    g_bus_resolved = true;
    g_autoptr(GError) error = nullptr;
    g_connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (g_connection == nullptr) {
      g_debug(
          "unread_badge: no session bus (%s); launcher badge disabled for "
          "this session",
          error != nullptr ? error->message : "unknown");
    }
  }
  const gint64 clamped = CLAMP(fl_value_get_int(args), 0, kMaxCount);
  g_last_count = clamped;
  // Every call is announced, changed or not: a launcher that started late
  // learns the count from the next one.
  EmitCount(clamped);
  tray_icon_set_unread_count(clamped);
  return FL_METHOD_RESPONSE(fl_method_success_response_new(nullptr));
}

// Called for every method call from Dart on the badge channel.
void HandleMethodCall(FlMethodChannel* channel,
                      FlMethodCall* method_call,
                      gpointer user_data) {
  g_autoptr(FlMethodResponse) response = nullptr;
  if (strcmp(fl_method_call_get_name(method_call), kMethodName) == 0) {
    response = UpdateBadge(fl_method_call_get_args(method_call));
  } else {
    response = FL_METHOD_RESPONSE(fl_method_not_implemented_response_new());
  }
  g_autoptr(GError) error = nullptr;
  if (!fl_method_call_respond(method_call, response, &error)) {
    g_warning("unread_badge: failed to respond to method call: %s",
              error != nullptr ? error->message : "unknown");
  }
}

}  // namespace

gchar* unread_badge_object_path(const gchar* app_id) {
  g_autofree gchar* uri = AppUri(app_id);
  return g_strdup_printf("/com/canonical/unity/launcherentry/%u", UriHash(uri));
}

void unread_badge_register(FlBinaryMessenger* messenger, const gchar* app_id) {
  if (messenger == nullptr || app_id == nullptr) {
    return;
  }
  g_free(g_app_uri);
  g_app_uri = AppUri(app_id);
  g_free(g_object_path);
  g_object_path = unread_badge_object_path(app_id);

  service_channel_close(&g_channel, &g_channel_open);
  g_channel = service_channel_open(messenger, kChannelName, HandleMethodCall,
                                   &g_channel_open);
}

void unread_badge_shutdown(void) {
  if (g_connection != nullptr && g_last_count != 0) {
    EmitCount(0);  // clear a badge that still shows a count
    g_dbus_connection_flush_sync(g_connection, nullptr, nullptr);
  }
  service_channel_close(&g_channel, &g_channel_open);
  g_clear_object(&g_connection);
  g_clear_pointer(&g_app_uri, g_free);
  g_clear_pointer(&g_object_path, g_free);
  g_bus_resolved = false;
  g_last_count = 0;
}
