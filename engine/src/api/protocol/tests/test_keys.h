// Key material and records for the operation tests, made reproducibly.
#pragma once

#include <cstdint>
#include <vector>

#include "api/protocol/key_material.h"
#include "crypto/random.h"
#include "protocol/keys.h"
#include "protocol/records.h"

namespace velmo::api::testing {

// An identity as operation 4 makes it, from a fixed seed.
inline GeneratedIdentityKeyPair TestIdentity(uint64_t seed = 1) {
  crypto::SeededRng rng(seed);
  return keys::GenerateIdentityKeyPair(rng);
}

inline std::vector<uint8_t> Fill(size_t n, uint8_t value, int type_byte = -1) {
  size_t prefix = type_byte >= 0 ? 1 : 0;
  std::vector<uint8_t> out(prefix + n, value);
  if (prefix != 0) out[0] = static_cast<uint8_t>(type_byte);
  return out;
}

inline SecretBytes Secret(const std::vector<uint8_t>& v) {
  return SecretBytes(v.begin(), v.end());
}

inline SecretBytes PreKeyRecordWith(uint32_t id, std::vector<uint8_t> public_key,
                                    std::vector<uint8_t> private_key) {
  proto::PreKeyRecordStructure record;
  record.id = id;
  record.public_key.assign(public_key);
  record.private_key.assign(private_key);
  return proto::Encode(record);
}

inline SecretBytes SignedRecordWith(uint32_t id, std::vector<uint8_t> public_key,
                                    std::vector<uint8_t> signature = {}) {
  proto::SignedPreKeyRecordStructure record;
  record.id = id;
  record.public_key.assign(public_key);
  record.private_key.assign(Fill(32, 1));
  record.signature = signature;
  record.timestamp = 1767225600000;
  return proto::Encode(record);
}

}  // namespace velmo::api::testing
