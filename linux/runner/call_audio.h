#ifndef LINUX_RUNNER_CALL_AUDIO_H_
#define LINUX_RUNNER_CALL_AUDIO_H_

#include <flutter_linux/flutter_linux.h>

// Answers the Dart side's call-audio query on "flutter_callkit_incoming":
// "getCurrentOutput" is always null here; everything else is not
// implemented.

// call_audio_register opens the channel on `messenger` (nothing for NULL),
// replacing a channel opened earlier.
void call_audio_register(FlBinaryMessenger* messenger);

// call_audio_shutdown closes the channel.
void call_audio_shutdown(void);

#endif  // LINUX_RUNNER_CALL_AUDIO_H_
