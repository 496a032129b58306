// The key-exchange authenticator: a root key and a MAC key, re-keyed with
// every epoch secret, that authenticate the header and the ciphertext each
// side sends.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "crypto/secure_bytes.h"
#include "protocol/pq/records.h"

namespace velmo::pq {

using crypto::SecretArray;

inline constexpr size_t kMacBytes = 32;
inline constexpr size_t kEpochSecretBytes = 32;

using Mac = std::array<uint8_t, kMacBytes>;
using EpochSecret = SecretArray<kEpochSecretBytes>;

struct Authenticator {
  SecretArray<32> root_key;
  SecretArray<32> mac_key;

  // Create starts from all-zero keys and applies Update(epoch, key).
  static Authenticator Create(ByteView key, uint64_t epoch);

  // Update mixes `key` into the root key for `epoch`:
  // HKDF(zero salt; root_key || key; label || BE64(epoch); 64) gives the new
  // root key and MAC key.
  void Update(uint64_t epoch, ByteView key);

  Mac HeaderMac(uint64_t epoch, ByteView header) const;
  Mac CiphertextMac(uint64_t epoch, ByteView ciphertext) const;

  // Record form; FromRecord fails unless both keys are 32 bytes.
  static std::optional<Authenticator> FromRecord(const AuthenticatorRecord& r);
  AuthenticatorRecord ToRecord() const;
};

// DeriveEpochSecret turns epoch `epoch`'s ML-KEM shared secret into the
// secret that re-keys the chains and the authenticator.
EpochSecret DeriveEpochSecret(ByteView shared_secret, uint64_t epoch);

// MacsEqual compares a received MAC with the expected one in constant time.
bool MacsEqual(ByteView got, const Mac& want);

}  // namespace velmo::pq
