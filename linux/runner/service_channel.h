#ifndef LINUX_RUNNER_SERVICE_CHANNEL_H_
#define LINUX_RUNNER_SERVICE_CHANNEL_H_

#include <flutter_linux/flutter_linux.h>

// The method channel of a host service that may outlive the engine: the
// engine closes its channels when the window goes, before the services shut
// down, and a closed channel must not be touched again.

// service_channel_open creates the channel `name` (standard method codec) on
// `messenger` with `handler`. `*open` reads true until the channel closes,
// by service_channel_close or because the engine ended it. Returns full.
FlMethodChannel* service_channel_open(FlBinaryMessenger* messenger,
                                      const gchar* name,
                                      FlMethodChannelMethodCallHandler handler,
                                      bool* open);

// service_channel_close stops the handler of a channel that is still open,
// then releases `*channel` and clears it. Nothing for NULL.
void service_channel_close(FlMethodChannel** channel, bool* open);

#endif  // LINUX_RUNNER_SERVICE_CHANNEL_H_
