// Session set-up from a peer device's pre-key bundle, the initiator's half of
// the key agreement (X3DH, or PQXDH when the bundle offers a Kyber pre-key).
#pragma once

#include <optional>

#include "api/outcome.h"
#include "api/protocol/step_context.h"
#include "api/records.h"
#include "crypto/kyber1024.h"
#include "protocol/error.h"
#include "protocol/keys.h"
#include "store/stores.h"

namespace velmo::api {

// A bundle whose pairings hold and whose keys read.
struct CheckedBundle {
  struct Kyber {
    uint32_t id;
    crypto::kyber1024::PublicKey key;
    Bytes encoded;  // 1569 bytes, what the signature covers
    Bytes signature;
  };

  uint32_t registration_id;
  std::optional<uint32_t> pre_key_id;
  std::optional<proto::PublicKey> pre_key;
  uint32_t signed_pre_key_id;
  proto::PublicKey signed_pre_key;
  Bytes signed_pre_key_signature;
  proto::PublicKey identity_key;
  std::optional<Kyber> kyber;
};

// CheckBundle makes the engine's checks of a bundle, in order: the one-time
// pre-key pairing ("pre_key_id and pre_key_public go together",
// InvalidArgument) and key, the signed pre-key, the identity key, then the
// Kyber triple ("kyber prekey id, key and signature go together") and key.
// Signatures are not looked at here.
Outcome<CheckedBundle> CheckBundle(const PreKeyBundle& bundle);

// InitiateSession checks trust and both signatures, agrees the session
// secrets with the bundle's keys and installs the new, unanswered session
// state as the current state of `address`'s record (archiving the one there
// before). Failures: "untrusted identity for address {}", "invalid
// signature detected", "invalid argument: post-quantum ratchet: error
// creating initial A2B state: {}". Nothing is written to the stores unless
// it succeeds.
proto::Status InitiateSession(store::ProtocolStores& stores,
                              const PeerAddress& address,
                              const CheckedBundle& bundle,
                              const StepContext& context);

}  // namespace velmo::api
