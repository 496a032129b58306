// The frame of the operations that work on the protocol stores (2, 3, 16):
// build the five stores from the snapshot the Dart side handed in, and
// export what the call changed.
#pragma once

#include "api/outcome.h"
#include "api/records.h"
#include "protocol/error.h"
#include "store/stores.h"

namespace velmo::api {

// BuildStores reads, in this order, the identities, the sessions, the
// one-time, signed and Kyber pre-key records and the own identity key pair;
// the first failure is the result (nothing else is built). The session
// records' bytes are taken over from the snapshot (their archived states are
// kept in place), so the snapshot's session list is left empty.
Outcome<store::ProtocolStores> BuildStores(StoreSnapshot&& snapshot);

// ExportChanges lists what the store operations saved, stored, replaced,
// removed or marked used, in address and id order. It cannot fail.
StoreChanges ExportChanges(const store::ProtocolStores& stores);

// ToEngineError gives a session-layer failure its kind.
EngineError ToEngineError(const proto::Error& error);

}  // namespace velmo::api
