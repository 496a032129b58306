// Helpers shared by the protocol tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/secure_bytes.h"

namespace velmo::proto::testing {

// Unhex turns "08 01 0a" (spaces ignored) into bytes.
inline std::vector<uint8_t> Unhex(std::string_view hex) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    int v = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : throw std::invalid_argument("hex digit");
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("odd hex length");
  return out;
}

// Pattern fills n bytes start, start+1, ... (mod 256), optionally after a
// type byte: the same test keys the golden sources use.
inline std::vector<uint8_t> Pattern(uint8_t start, size_t n, int prefix = -1) {
  std::vector<uint8_t> out;
  if (prefix >= 0) out.push_back(static_cast<uint8_t>(prefix));
  for (size_t i = 0; i < n; i++) out.push_back(static_cast<uint8_t>(start + i));
  return out;
}

inline std::vector<uint8_t> ReadGolden(const std::string& name) {
  std::string path = std::string(VELMO_PROTOCOL_GOLDEN_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}


// Concatenation, for building inputs: Unhex("0a 21") + key.
inline std::vector<uint8_t> operator+(std::vector<uint8_t> a,
                                      const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::vector<uint8_t> Vec(crypto::ByteView v) {
  return std::vector<uint8_t>(v.begin(), v.end());
}

}  // namespace velmo::proto::testing
