// Diagnostic lines of the session steps. Lines are put together only when a
// sink would read them, so a call without a sink formats nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "crypto/secure_bytes.h"
#include "protocol/address.h"
#include "protocol/error.h"
#include "protocol/log.h"

namespace velmo::api::session_log {

// HexOf renders public bytes (keys that name a session) for a log line.
struct HexOf {
  crypto::ByteView bytes;
};

inline void Append(std::string& out, std::string_view s) {
  out += s;
}
inline void Append(std::string& out, const char* s) {
  out += s;
}
inline void Append(std::string& out, const std::string& s) {
  out += s;
}
inline void Append(std::string& out, const proto::PeerAddress& a) {
  out += a.ToString();
}
inline void Append(std::string& out, HexOf h) {
  out += proto::Hex(h.bytes.data(), h.bytes.size());
}
template <class N>
requires std::is_integral_v<N>
void Append(std::string& out, N n) {
  out += std::to_string(n);
}

template <class... Parts>
void Line(log::Level level, const Parts&... parts) {
  if (!log::Enabled(level)) {
    return;
  }
  std::string line;
  (Append(line, parts), ...);
  log::Write(level, line);
}

}  // namespace velmo::api::session_log
