// The stored form of the post-quantum ratchet: `PqRatchetState` and its inner
// messages, field for field, as plain structures. Readers merge repeated
// embedded messages and skip unknown fields (the conventions of every stored
// record); they check the wire format only. What the values must satisfy is
// checked where they are turned into working state (chain.h, exchange.h).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "crypto/secure_bytes.h"

namespace velmo::pq {

using crypto::ByteView;
using crypto::Bytes;
using crypto::SecretBytes;

struct ChainParamsRecord {
  uint32_t max_jump = 0;      // 0: the default
  uint32_t max_ooo_keys = 0;  // 0: the default
};

struct VersionNegotiationRecord {
  SecretBytes auth_key;
  uint64_t direction = 0;
  uint64_t min_version = 0;
  std::optional<ChainParamsRecord> chain_params;
};

struct EpochDirectionRecord {
  uint32_t ctr = 0;
  SecretBytes next;  // 32 bytes, or empty once the direction is retired
  SecretBytes prev;  // kept keys, 36 bytes each: BE32 counter, then the key
};

struct EpochRecord {
  std::optional<EpochDirectionRecord> send;
  std::optional<EpochDirectionRecord> recv;
};

struct ChainRecord {
  uint64_t direction = 0;
  uint64_t current_epoch = 0;
  std::vector<EpochRecord> links;  // oldest first; the last is current_epoch
  SecretBytes next_root;
  uint64_t send_epoch = 0;
  std::optional<ChainParamsRecord> params;
};

struct AuthenticatorRecord {
  SecretBytes root_key;
  SecretBytes mac_key;
};

struct EncoderRecord {
  uint32_t idx = 0;
  std::vector<Bytes> pts;
  std::vector<Bytes> polys;
};

struct DecoderRecord {
  uint32_t pts_needed = 0;
  uint32_t polys = 0;
  std::vector<Bytes> pts;
  bool is_complete = false;
};

// V1StateRecord is the one-of `inner_state`: `state` is the number of the
// field that is set (1 `KeysUnsampled` ... 11 `Ct2Sampled`). The `uc` message
// differs per state in which of ek, dk, hdr, es and ct1 it carries and under
// which numbers; fields 2 and 3 hold at most one encoder and one decoder.
struct V1StateRecord {
  uint32_t state = 0;
  uint64_t epoch = 0;
  std::optional<AuthenticatorRecord> auth;
  Bytes ek;
  SecretBytes dk;
  Bytes hdr;
  SecretBytes es;
  Bytes ct1;
  std::optional<EncoderRecord> encoder;
  std::optional<DecoderRecord> decoder;
};

struct PqRatchetStateRecord {
  std::optional<VersionNegotiationRecord> version_negotiation;
  std::optional<ChainRecord> chain;
  std::optional<V1StateRecord> inner;
};

// Decode reads a `PqRatchetState`; false when the bytes break the wire format
// (an empty string is a valid, empty state).
[[nodiscard]] bool Decode(ByteView in, PqRatchetStateRecord* out);
// Encode writes it in ascending field order; cannot fail.
SecretBytes Encode(const PqRatchetStateRecord& state);

}  // namespace velmo::pq
