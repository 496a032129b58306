// Arithmetic in GF(2^16) with the reduction polynomial
// x^16 + x^12 + x^3 + x + 1, the field of the chunk code. An integer 0 to
// 65535 is the element with the same bits; addition is XOR.
//
// Multiplication goes through log and exponent tables. Everything the chunk
// code carries is public (key-exchange headers, encapsulation keys,
// ciphertexts), so table lookups indexed by the data are acceptable here.
#pragma once

#include <cstdint>

namespace velmo::pq::gf16 {

inline constexpr uint32_t kReduction = 0x1100B;

namespace internal {
struct Tables {
  // exp[i] = 2^i for i in [0, 2 * 65535): doubled so that a sum of two logs
  // needs no reduction modulo 65535.
  uint16_t exp[2 * 65535];
  uint16_t log[65536];  // log[0] is unused
};
const Tables& GetTables();
}  // namespace internal

inline uint16_t Add(uint16_t a, uint16_t b) { return a ^ b; }

inline uint16_t Mul(uint16_t a, uint16_t b) {
  if (a == 0 || b == 0) {
    return 0;
  }
  const internal::Tables& t = internal::GetTables();
  return t.exp[t.log[a] + t.log[b]];
}

// Inv returns the multiplicative inverse; `a` must not be 0.
inline uint16_t Inv(uint16_t a) {
  const internal::Tables& t = internal::GetTables();
  return t.exp[65535 - t.log[a]];
}

// MulSlow is the carry-less product reduced bit by bit: the definition the
// tables are built from, kept for checking them.
uint16_t MulSlow(uint16_t a, uint16_t b);

}  // namespace velmo::pq::gf16
