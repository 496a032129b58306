#ifndef LINUX_RUNNER_SYSTEM_POWER_MONITOR_H_
#define LINUX_RUNNER_SYSTEM_POWER_MONITOR_H_

#include <flutter_linux/flutter_linux.h>

// Tells the Dart side on "com.velmo.pro/desktop_system" when the computer
// is about to sleep ("onSystemWillSleep") and when it has woken
// ("onSystemWake"), from logind's "PrepareForSleep" on the system bus.
typedef struct _SystemPowerMonitor SystemPowerMonitor;

// system_power_monitor_new opens the channel on `messenger` and starts
// looking up the system bus in the background. Returns a monitor owned by
// the caller. Without a system bus it logs one warning and stays silent.
SystemPowerMonitor* system_power_monitor_new(FlBinaryMessenger* messenger);

// system_power_monitor_free unsubscribes and frees `monitor` (nothing for
// NULL). A bus lookup still under way is cancelled and, when it completes,
// leaves the freed monitor alone.
void system_power_monitor_free(SystemPowerMonitor* monitor);

#endif  // LINUX_RUNNER_SYSTEM_POWER_MONITOR_H_
