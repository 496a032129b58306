// The fuzz input format, shared by the target and its seed generator:
// a 2-byte big-endian state length, the state bytes, then the message bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/secure_bytes.h"

namespace velmo::pq::fuzz {

struct Input {
  crypto::ByteView state;
  crypto::ByteView message;
};

inline Input Split(crypto::ByteView data) {
  if (data.size() < 2) {
    return {{}, data};
  }
  size_t state_len = (size_t{data[0]} << 8) | data[1];
  data = data.subspan(2);
  state_len = std::min(state_len, data.size());
  return {data.first(state_len), data.subspan(state_len)};
}

inline crypto::Bytes Join(crypto::ByteView state, crypto::ByteView message) {
  crypto::Bytes out = {static_cast<uint8_t>(state.size() >> 8),
                       static_cast<uint8_t>(state.size())};
  out.insert(out.end(), state.begin(), state.end());
  out.insert(out.end(), message.begin(), message.end());
  return out;
}

}  // namespace velmo::pq::fuzz
