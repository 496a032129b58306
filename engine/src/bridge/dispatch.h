// Dispatch: from an operation number and an argument buffer to a reply, on the
// calling thread or on the worker pool.
#pragma once

#include <cstdint>

#include "api/operation.h"
#include "bridge/arguments.h"
#include "bridge/dart_message.h"
#include "bridge/heap_bytes.h"

namespace velmo::bridge {

// DispatchSync runs a synchronous operation and returns its reply: action
// byte 0 or 1 and the payload, or 3 and a fault text for a malformed buffer,
// an operation number that is not a synchronous operation of this engine or
// any internal failure. Never throws; empty only when not even a fault reply
// could be allocated.
OwnedBytes DispatchSync(int32_t op, Arguments args) noexcept;

// RunSync is DispatchSync for an operation already looked up.
OwnedBytes RunSync(const api::Operation& op, Arguments args) noexcept;

// DispatchAsync checks the call and queues the operation on the worker pool,
// which posts its reply to `port`. A call that cannot be queued gets its
// fault reply posted from here. Never throws.
void DispatchAsync(int32_t op, DartPort port, Arguments args) noexcept;

// FaultReply is action byte 3 and `text` (a placeholder when null or empty);
// empty when out of memory.
OwnedBytes FaultReply(const char* text) noexcept;

}  // namespace velmo::bridge
