// Operations that need nothing of the session layer.
#pragma once

#include <cstdint>

#include "api/outcome.h"
#include "api/records.h"

namespace velmo::api {

// Operation 1: the version nibble of a wire message (its first byte's high
// four bits); nothing else is checked. An empty ciphertext is
// InvalidArgument "empty ciphertext".
Outcome<uint8_t> CiphertextVersion(Bytes ciphertext);

// Operation 20: StoreChanges with every list empty.
StoreChanges StoreChangesDefault();

// Operation 21: StoreSnapshot with no identity key pair, registration id 0
// and every list empty.
StoreSnapshot StoreSnapshotDefault();

}  // namespace velmo::api
