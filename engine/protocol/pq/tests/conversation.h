// Two ratchets in conversation, for tests, benchmarks and the fuzz corpus:
// A (direction 0) and B (direction 1) with deterministic randomness.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "crypto/random.h"
#include "protocol/pq/exchange.h"
#include "protocol/pq/ratchet.h"
#include "protocol/pq/records.h"

namespace velmo::pq::testing {

// Decodes stored state bytes down to the exchange state; throws when they do
// not decode (tests want to know).
inline V1State InnerOf(ByteView state) {
  PqRatchetStateRecord r;
  if (!Decode(state, &r) || !r.inner) {
    throw std::runtime_error("state without an exchange state");
  }
  std::optional<V1State> v = FromRecord(*r.inner);
  if (!v) {
    throw std::runtime_error("exchange state does not load");
  }
  return std::move(*v);
}

class Conversation {
 public:
  struct Sent {
    Bytes message;
    std::optional<MessageKey> key;
  };

  explicit Conversation(uint64_t seed, CreateParams params = {})
      : rng_(seed) {
    rng_.Fill(std::span<uint8_t>(auth_key_, 32));
    params.auth_key = ByteView(auth_key_, 32);
    for (uint32_t who = 0; who < 2; who++) {
      params.direction = who;
      state_[who] = CreateState(params).value();
    }
  }

  // Send runs `from`'s send step and keeps the new state.
  Sent Send(int from) {
    SendResult r = pq::Send(state_[from], rng_).value();
    state_[from] = std::move(r.state);
    return {std::move(r.message), std::move(r.key)};
  }

  // Deliver runs `to`'s receive step, keeping the new state on success.
  Result<ReceiveResult> Deliver(int to, ByteView message) {
    Result<ReceiveResult> r = pq::Receive(state_[to], message);
    if (r.ok()) {
      state_[to] = r->state;
    }
    return r;
  }

  // Exchange sends one message from `from` and delivers it at once; throws
  // unless both sides got the same key.
  Sent Exchange(int from) {
    Sent s = Send(from);
    Result<ReceiveResult> r = Deliver(1 - from, s.message);
    if (!r.ok()) {
      throw std::runtime_error("receive failed: " + r.error().message);
    }
    if (s.key.has_value() != r->key.has_value() ||
        (s.key && !crypto::ct_equal(ByteView(*s.key), ByteView(*r->key)))) {
      throw std::runtime_error("the two sides disagree on a key");
    }
    return s;
  }

  SecretBytes& state(int who) { return state_[who]; }
  V1State inner(int who) const { return InnerOf(state_[who]); }
  std::string_view state_name(int who) const { return StateName(inner(who)); }
  crypto::Rng& rng() { return rng_; }

 private:
  crypto::SeededRng rng_;
  uint8_t auth_key_[32];
  SecretBytes state_[2];
};

}  // namespace velmo::pq::testing
