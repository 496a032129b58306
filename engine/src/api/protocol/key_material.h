// Key material generation with the random source and the clock as
// parameters, so tests can reproduce it; the operation handlers pass the
// thread's generator and the system clock.
#pragma once

#include <cstdint>
#include <vector>

#include "api/outcome.h"
#include "api/records.h"
#include "crypto/random.h"

namespace velmo::api::keys {

GeneratedIdentityKeyPair GenerateIdentityKeyPair(crypto::Rng& rng);

// Ids start, start + 1, ... in order; an id past 2^32 - 1 is
// "prekey id overflow" and nothing is returned.
Outcome<std::vector<GeneratedPreKey>> GeneratePreKeys(uint32_t start,
                                                      uint32_t count,
                                                      crypto::Rng& rng);

// `now_ms`: the records' timestamp, milliseconds since the epoch.
Outcome<GeneratedPreKey> GenerateSignedPreKey(crypto::ByteView identity_key_pair,
                                              uint32_t id, uint64_t now_ms,
                                              crypto::Rng& rng);

// Reads the identity key pair first, whatever the count; then as
// GeneratePreKeys, with "kyber prekey id overflow".
Outcome<std::vector<GeneratedPreKey>> GenerateKyberPreKeys(
    crypto::ByteView identity_key_pair, uint32_t start, uint32_t count,
    uint64_t now_ms, crypto::Rng& rng);

uint32_t GenerateRegistrationId(crypto::Rng& rng);

}  // namespace velmo::api::keys
