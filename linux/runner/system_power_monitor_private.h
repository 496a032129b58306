// The monitor record, for its tests. Not for other modules.
#ifndef LINUX_RUNNER_SYSTEM_POWER_MONITOR_PRIVATE_H_
#define LINUX_RUNNER_SYSTEM_POWER_MONITOR_PRIVATE_H_

#include "system_power_monitor.h"

struct _SystemPowerMonitor {
  FlMethodChannel* channel;     // owned; the host only sends on it
  GDBusConnection* connection;  // owned; NULL until the lookup succeeds
  GCancellable* cancellable;    // owned; cancels the pending lookup at free
  guint subscription_id;        // 0 when not subscribed
};

#endif  // LINUX_RUNNER_SYSTEM_POWER_MONITOR_PRIVATE_H_
