#include "system_power_monitor.h"

#include "system_power_monitor_private.h"

namespace {

constexpr char kChannelName[] = "com.velmo.pro/desktop_system";
constexpr char kLogindBusName[] = "org.freedesktop.login1";
constexpr char kLogindManagerInterface[] = "org.freedesktop.login1.Manager";
constexpr char kPrepareForSleepSignal[] = "PrepareForSleep";
constexpr char kLogindObjectPath[] = "/org/freedesktop/login1";
constexpr char kWillSleepMethod[] = "onSystemWillSleep";
constexpr char kWakeMethod[] = "onSystemWake";

// Travels with the bus lookup. The lookup may complete after the monitor
// is freed, so the context keeps the cancellable alive on its own and the
// monitor is only read once the cancellable says it still exists.
struct BusLookup {
  SystemPowerMonitor* monitor;  // not owned
  GCancellable* cancellable;    // owned reference
};

// Called for each "PrepareForSleep" from logind.
void on_prepare_for_sleep(GDBusConnection* connection,
                          const gchar* sender_name,
                          const gchar* object_path,
                          const gchar* interface_name,
                          const gchar* signal_name,
                          GVariant* parameters,
                          gpointer user_data) {
  SystemPowerMonitor* self = static_cast<SystemPowerMonitor*>(user_data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
    g_warning("PrepareForSleep delivered an unexpected signature: %s",
              g_variant_get_type_string(parameters));
    return;
  }
  gboolean going_to_sleep = FALSE;
  g_variant_get(parameters, "(b)", &going_to_sleep);
  const char* method = going_to_sleep ? kWillSleepMethod : kWakeMethod;
  g_debug("logind PrepareForSleep(%s) -> %s", going_to_sleep ? "true" : "false",
          method);
  fl_method_channel_invoke_method(self->channel, method, nullptr, nullptr,
                                  nullptr, nullptr);
}

// Called when the system bus lookup completes, possibly after the monitor
// was freed.
void on_system_bus_ready(GObject* source,
                         GAsyncResult* result,
                         gpointer user_data) {
  BusLookup* lookup = static_cast<BusLookup*>(user_data);
  const bool cancelled = g_cancellable_is_cancelled(lookup->cancellable);
  g_autoptr(GError) error = nullptr;
  GDBusConnection* connection = g_bus_get_finish(result, &error);
  SystemPowerMonitor* self = lookup->monitor;
  g_object_unref(lookup->cancellable);
  g_free(lookup);
  if (cancelled) {
    g_clear_object(&connection);
    return;  // `self` may be gone
  }

  if (connection == nullptr) {
    g_warning("Sleep/wake catch-up disabled: cannot reach the system bus: %s",
              error != nullptr ? error->message : "unknown");
    return;
  }
  self->connection = connection;
  self->subscription_id = g_dbus_connection_signal_subscribe(
      connection, kLogindBusName, kLogindManagerInterface,
      kPrepareForSleepSignal, kLogindObjectPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, on_prepare_for_sleep, self, nullptr);
  g_debug("Subscribed to logind %s", kPrepareForSleepSignal);
}

}  // namespace

SystemPowerMonitor* system_power_monitor_new(FlBinaryMessenger* messenger) {
  SystemPowerMonitor* self = g_new0(SystemPowerMonitor, 1);
  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  self->channel =
      fl_method_channel_new(messenger, kChannelName, FL_METHOD_CODEC(codec));
  self->cancellable = g_cancellable_new();
  BusLookup* lookup = g_new0(BusLookup, 1);
  lookup->monitor = self;
  lookup->cancellable = G_CANCELLABLE(g_object_ref(self->cancellable));
  g_bus_get(G_BUS_TYPE_SYSTEM, self->cancellable, on_system_bus_ready, lookup);
  return self;
}

void system_power_monitor_free(SystemPowerMonitor* monitor) {
  if (monitor == nullptr) {
    return;
  }
  GCancellable* cancellable = g_steal_pointer(&monitor->cancellable);
  g_cancellable_cancel(cancellable);
  g_object_unref(cancellable);
  GDBusConnection* connection = g_steal_pointer(&monitor->connection);
  if (connection != nullptr) {
    if (monitor->subscription_id != 0) {
      g_dbus_connection_signal_unsubscribe(connection,
                                           monitor->subscription_id);
      monitor->subscription_id = 0;
    }
    g_object_unref(connection);
  }
  g_clear_object(&monitor->channel);
  g_free(monitor);
}
