// The post-quantum key chains: per epoch one chain for each direction, the
// epochs re-keyed from the key exchange's epoch secrets, keys taken in order
// for sending and in any order (within limits) for receiving.
//
// The functions work on the stored form directly; ChainIsWellFormed is the
// check a decoded chain must pass before any of them is used on it.
#pragma once

#include <cstdint>

#include "crypto/secure_bytes.h"
#include "protocol/pq/error.h"
#include "protocol/pq/records.h"

namespace velmo::pq {

using crypto::SecretArray;

inline constexpr uint32_t kDefaultMaxJump = 25000;
inline constexpr uint32_t kDefaultMaxOooKeys = 2000;
inline constexpr size_t kChainKeyBytes = 32;
inline constexpr size_t kKeptKeyBytes = 4 + kChainKeyBytes;

using MessageKey = SecretArray<32>;

struct IndexedKey {
  uint32_t index;
  MessageKey key;
};

// StartChain makes epoch 0 from the authentication key. `direction` (0 or 1)
// picks which half becomes the send chain; `params` is copied as given.
ChainRecord StartChain(ByteView auth_key, uint32_t direction,
                       const std::optional<ChainParamsRecord>& params);

// ChainIsWellFormed tells whether a decoded chain has the shape the
// functions below rely on: direction 0 or 1, a 32-byte root, at least one
// epoch and no more than epoch numbers allow, both directions of every epoch
// present with chain keys of 32 bytes (or empty once retired) and kept keys
// in whole 36-byte entries.
bool ChainIsWellFormed(const ChainRecord& chain);

// AddEpoch appends epoch `epoch`, which must be current_epoch + 1 ("epoch not
// in valid range: {}" otherwise), keyed from its epoch secret.
Status AddEpoch(ChainRecord& chain, uint64_t epoch, ByteView epoch_secret);

// SendKey takes the next key of epoch `epoch`'s send chain. Moving to a
// newer epoch retires the send chain of the one before it and drops every
// older epoch. Errors: "Send key epoch decreased ({} -> {})", "epoch not in
// valid range: {}".
Result<IndexedKey> SendKey(ChainRecord& chain, uint64_t epoch);

// RecvKey returns key `index` of epoch `epoch`'s receive chain, stepping the
// chain forward and keeping the skipped keys, or taking a kept one. Errors:
// "epoch not in valid range: {}", "Key jump: {} - {}", "Key trimmed: {}",
// "Key already requested: {}".
Result<MessageKey> RecvKey(ChainRecord& chain, uint64_t epoch, uint32_t index);

}  // namespace velmo::pq
