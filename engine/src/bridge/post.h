// Posting replies to Dart ports, the post function that does it, and the
// count of engine users whose shutdown silences it.
#pragma once

#include <cstddef>
#include <string_view>

#include "bridge/dart_message.h"
#include "bridge/heap_bytes.h"

namespace velmo::bridge {

using PostFunction = bool (*)(DartPort port, DartMessage* message);

inline constexpr std::string_view kFailedPostWarning =
    "Fail to post message to Dart. (If happen during Flutter hot restart, "
    "this may not be a problem.)";

// SetPostFunction replaces the function replies are posted through.
void SetPostFunction(PostFunction post) noexcept;

// PostReply posts `reply` to `port` as external typed data whose finalizer
// releases it. When the post function refuses it, or none is registered, the
// reply is released here and the failed-post warning is emitted.
void PostReply(DartPort port, OwnedBytes reply) noexcept;

// PostMessage posts any message object; false (after the failed-post
// warning) when it could not be posted. The caller keeps `message`.
bool PostMessage(DartPort port, DartMessage* message) noexcept;

// EmitWarning writes a warning line to the log sink when one takes
// warnings, otherwise to standard output.
void EmitWarning(std::string_view line) noexcept;

// ReleaseBuffer is the body of the buffer finalizers: releases `capacity`
// elements of `element_len` bytes and the record itself.
void ReleaseBuffer(void* peer, size_t element_len) noexcept;

// AddShutdownUser counts one more engine user. RemoveShutdownUser counts one
// off; when none is left, every later reply is dropped silently.
void AddShutdownUser() noexcept;
void RemoveShutdownUser() noexcept;

}  // namespace velmo::bridge
