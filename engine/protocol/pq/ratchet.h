// The sparse post-quantum ratchet as the session layer sees it: three
// operations on the opaque state bytes kept in the session state's
// `pq_ratchet_state`.
//
// For every message the sender's Send and the receiver's Receive give the
// same optional 32-byte key, which salts that message's key derivation.
// Alongside, the two sides run a chunked ML-KEM-768 exchange; each completed
// exchange re-keys the chains.
//
// Every operation decodes the state afresh and hands back new state bytes
// only on success, so a failed call leaves the caller's stored state as it
// was. Errors are values (see error.h for the texts); exceptions escape only
// from the random source (crypto::RandomSourceError) and from allocation.
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/random.h"
#include "crypto/secure_bytes.h"
#include "protocol/pq/chain.h"
#include "protocol/pq/error.h"

namespace velmo::pq {

// What session set-up supplies.
struct CreateParams {
  ByteView auth_key;       // 32 bytes: bytes 64 to 95 of the session secrets
  uint32_t direction = 0;  // 0 for the bundle side (A2B), 1 for the other
  uint32_t version = 1;    // 0: no ratchet (the state is empty)
  uint32_t min_version = 0;
  uint32_t max_jump = kDefaultMaxJump;  // UINT32_MAX for a session with oneself
  uint32_t max_ooo_keys = kDefaultMaxOooKeys;
};

// CreateState returns the initial state bytes (empty for version 0).
// "Invalid params: {}" for a version above 1, a direction above 1 or an
// authentication key that is not 32 bytes.
Result<SecretBytes> CreateState(const CreateParams& params);

struct SendResult {
  SecretBytes state;
  Bytes message;  // the `pq_ratchet` field; empty when the state is empty
  std::optional<MessageKey> key;
};

// Send runs once per encryption. Errors: "state decode failed", "Chain not
// available", and the chain's errors.
Result<SendResult> Send(ByteView state, crypto::Rng& rng);

struct ReceiveResult {
  SecretBytes state;
  std::optional<MessageKey> key;
};

// Receive runs once per decryption attempt with the message's `pq_ratchet`
// bytes (possibly empty). Errors: "state decode failed" (its own state is
// unreadable; the session layer reports that one differently), "message
// decode failed", "Version mismatch after negotiation", "Minimum version",
// "MAC verification failed", "Erroneous data received from remote party",
// "Chain not available" and the chain's errors.
Result<ReceiveResult> Receive(ByteView state, ByteView message);

}  // namespace velmo::pq
