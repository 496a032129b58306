// Session records shaped like those a long-lived conversation leaves behind,
// for benchmarks and fuzz seeds: a current state with a sending chain, five
// receiving chains holding kept message keys and a post-quantum ratchet
// state, and archived states of the same shape.
#pragma once

#include <cstdint>

#include "protocol/records.h"

namespace velmo::proto::bench {

struct RecordShape {
  size_t archived_states = 10;
  size_t receiver_chains = kMaxReceiverChains;
  size_t kept_keys_per_chain = 25;
  size_t pq_state_bytes = 4800;  // a ratchet mid-exchange: keys and encoder
};

// Filler bytes: a cheap deterministic stream, so records compress like keys.
class Filler {
 public:
  explicit Filler(uint64_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  Bytes Take(size_t n, int type_byte = -1) {
    Bytes out;
    out.reserve(n + 1);
    if (type_byte >= 0) out.push_back(static_cast<uint8_t>(type_byte));
    for (size_t i = 0; i < n; i++) {
      x_ ^= x_ << 13;
      x_ ^= x_ >> 7;
      x_ ^= x_ << 17;
      out.push_back(static_cast<uint8_t>(x_));
    }
    return out;
  }

 private:
  uint64_t x_;
};

inline SessionStructure RealisticState(Filler& f, const RecordShape& shape) {
  SessionStructure s;
  s.session_version = 4;
  s.local_identity_public.assign(f.Take(32, 0x05));
  s.remote_identity_public.assign(f.Take(32, 0x05));
  s.root_key.assign(f.Take(32));
  s.previous_counter = 41;
  Chain& sending = s.sender_chain.emplace();
  sending.sender_ratchet_key.assign(f.Take(32, 0x05));
  sending.sender_ratchet_key_private.assign(f.Take(32));
  sending.chain_key.emplace().index = 57;
  sending.chain_key->key.assign(f.Take(32));
  for (size_t c = 0; c < shape.receiver_chains; c++) {
    Chain& chain = s.receiver_chains.emplace_back();
    chain.sender_ratchet_key.assign(f.Take(32, 0x05));
    chain.chain_key.emplace().index = static_cast<uint32_t>(100 + c);
    chain.chain_key->key.assign(f.Take(32));
    for (size_t k = 0; k < shape.kept_keys_per_chain; k++) {
      MessageKey& key = chain.message_keys.emplace_back();
      key.index = static_cast<uint32_t>(99 + c - k);
      key.seed.assign(f.Take(32));
    }
  }
  s.remote_registration_id = 12345;
  s.local_registration_id = 678;
  s.alice_base_key.assign(f.Take(32, 0x05));
  Bytes pq = f.Take(shape.pq_state_bytes);
  s.pq_ratchet_state.assign(pq.begin(), pq.end());
  return s;
}

inline RecordStructure RealisticRecord(uint64_t seed,
                                       const RecordShape& shape = {}) {
  Filler f(seed);
  RecordStructure r;
  r.current_session = RealisticState(f, shape);
  for (size_t i = 0; i < shape.archived_states; i++) {
    r.previous_sessions.emplace_back(Encode(RealisticState(f, shape)));
  }
  return r;
}

}  // namespace velmo::proto::bench
