// Helpers shared by the ratchet's tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/secure_bytes.h"

namespace velmo::pq::testing {

inline std::string Hex(crypto::ByteView b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t v : b) {
    out.push_back(kDigits[v >> 4]);
    out.push_back(kDigits[v & 15]);
  }
  return out;
}

inline crypto::Bytes FromHex(std::string_view hex) {
  crypto::Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(
        std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

}  // namespace velmo::pq::testing
