// The table of the engine's operations, by number.
#pragma once

#include <cstdint>
#include <span>

#include "api/operation.h"

namespace velmo::api {

// The fingerprint of this operation table and the bridge encoding, which the
// Dart side compares with the value its own bindings carry.
inline constexpr uint32_t kContentHash = 0x8E769120;

// FindOperation returns the operation with that number, or null.
const Operation* FindOperation(int32_t number);

// AllOperations lists every operation in number order.
std::span<const Operation> AllOperations();

}  // namespace velmo::api
