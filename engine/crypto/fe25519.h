// Arithmetic modulo 2^255 - 19 for converting between the Montgomery and the
// Edwards form of Curve25519 points. Internal to the crypto layer. Every
// operation runs in time independent of the values.
#pragma once

#include <cstdint>

namespace velmo::crypto::internal {

// Five limbs of 51 bits; limbs may exceed 51 bits slightly between
// operations, the value is always taken modulo p.
struct Fe {
  uint64_t v[5];
};

// FeFromBytes reads 32 little-endian bytes, ignoring bit 255.
Fe FeFromBytes(const uint8_t in[32]);
// FeToBytes writes the canonical (fully reduced) encoding.
void FeToBytes(uint8_t out[32], const Fe& f);
Fe FeAdd(const Fe& a, const Fe& b);
Fe FeSub(const Fe& a, const Fe& b);
Fe FeMul(const Fe& a, const Fe& b);
// FeInvert returns a^(p-2): the inverse of a, or 0 for a = 0.
Fe FeInvert(const Fe& a);
Fe FeOne();
// FeIsZero tells whether a is 0 modulo p.
bool FeIsZero(const Fe& a);

}  // namespace velmo::crypto::internal
