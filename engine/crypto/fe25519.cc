#include "crypto/fe25519.h"

namespace velmo::crypto::internal {
namespace {

using u128 = unsigned __int128;
constexpr uint64_t kMask51 = (uint64_t{1} << 51) - 1;

uint64_t Load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// Brings every limb below 2^51 plus a small excess, folding the carry out of
// the top limb back in as 19 (2^255 = 19 mod p).
Fe Carry(Fe f) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 4; ++i) {
      f.v[i + 1] += f.v[i] >> 51;
      f.v[i] &= kMask51;
    }
    f.v[0] += 19 * (f.v[4] >> 51);
    f.v[4] &= kMask51;
  }
  return f;
}

}  // namespace

Fe FeFromBytes(const uint8_t in[32]) {
  Fe f;
  f.v[0] = Load64(in) & kMask51;
  f.v[1] = (Load64(in + 6) >> 3) & kMask51;
  f.v[2] = (Load64(in + 12) >> 6) & kMask51;
  f.v[3] = (Load64(in + 19) >> 1) & kMask51;
  f.v[4] = (Load64(in + 24) >> 12) & kMask51;
  return f;
}

void FeToBytes(uint8_t out[32], const Fe& in) {
  Fe f = Carry(in);
  // q is 1 exactly when f >= p: adding 19 then carries out of bit 255.
  uint64_t q = (f.v[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) q = (f.v[i] + q) >> 51;
  f.v[0] += 19 * q;
  for (int i = 0; i < 4; ++i) {
    f.v[i + 1] += f.v[i] >> 51;
    f.v[i] &= kMask51;
  }
  f.v[4] &= kMask51;
  uint64_t w[4] = {
      f.v[0] | f.v[1] << 51,
      f.v[1] >> 13 | f.v[2] << 38,
      f.v[2] >> 26 | f.v[3] << 25,
      f.v[3] >> 39 | f.v[4] << 12,
  };
  for (int i = 0; i < 4; ++i) {
    for (int b = 0; b < 8; ++b) out[8 * i + b] = static_cast<uint8_t>(w[i] >> (8 * b));
  }
}

// Limb bounds: FeAdd and FeSub take limbs below 2^53 and give limbs below
// 2^54; FeMul and Square take limbs below 2^54 (so no 128-bit sum overflows)
// and give limbs below 2^52.
Fe FeAdd(const Fe& a, const Fe& b) {
  Fe r;
  for (int i = 0; i < 5; ++i) r.v[i] = a.v[i] + b.v[i];
  return r;
}

Fe FeSub(const Fe& a, const Fe& b) {
  // Adds 4p first so no limb goes negative.
  static constexpr uint64_t k4p[5] = {0x1FFFFFFFFFFFB4, 0x1FFFFFFFFFFFFC,
                                      0x1FFFFFFFFFFFFC, 0x1FFFFFFFFFFFFC,
                                      0x1FFFFFFFFFFFFC};
  Fe r;
  for (int i = 0; i < 5; ++i) r.v[i] = a.v[i] + k4p[i] - b.v[i];
  return r;
}

namespace {
[[gnu::always_inline]] inline Fe CarryProducts(u128 t0, u128 t1, u128 t2, u128 t3, u128 t4) {
  Fe r;
  t1 += static_cast<uint64_t>(t0 >> 51);
  r.v[0] = static_cast<uint64_t>(t0) & kMask51;
  t2 += static_cast<uint64_t>(t1 >> 51);
  r.v[1] = static_cast<uint64_t>(t1) & kMask51;
  t3 += static_cast<uint64_t>(t2 >> 51);
  r.v[2] = static_cast<uint64_t>(t2) & kMask51;
  t4 += static_cast<uint64_t>(t3 >> 51);
  r.v[3] = static_cast<uint64_t>(t3) & kMask51;
  r.v[4] = static_cast<uint64_t>(t4) & kMask51;
  r.v[0] += 19 * static_cast<uint64_t>(t4 >> 51);
  r.v[1] += r.v[0] >> 51;
  r.v[0] &= kMask51;
  return r;
}
}  // namespace

namespace {
[[gnu::always_inline]] inline Fe Mul(const Fe& a, const Fe& b) {
  const uint64_t b1 = 19 * b.v[1], b2 = 19 * b.v[2], b3 = 19 * b.v[3],
                 b4 = 19 * b.v[4];
  u128 t0 = (u128)a.v[0] * b.v[0] + (u128)a.v[1] * b4 + (u128)a.v[2] * b3 +
            (u128)a.v[3] * b2 + (u128)a.v[4] * b1;
  u128 t1 = (u128)a.v[0] * b.v[1] + (u128)a.v[1] * b.v[0] + (u128)a.v[2] * b4 +
            (u128)a.v[3] * b3 + (u128)a.v[4] * b2;
  u128 t2 = (u128)a.v[0] * b.v[2] + (u128)a.v[1] * b.v[1] +
            (u128)a.v[2] * b.v[0] + (u128)a.v[3] * b4 + (u128)a.v[4] * b3;
  u128 t3 = (u128)a.v[0] * b.v[3] + (u128)a.v[1] * b.v[2] +
            (u128)a.v[2] * b.v[1] + (u128)a.v[3] * b.v[0] + (u128)a.v[4] * b4;
  u128 t4 = (u128)a.v[0] * b.v[4] + (u128)a.v[1] * b.v[3] +
            (u128)a.v[2] * b.v[2] + (u128)a.v[3] * b.v[1] +
            (u128)a.v[4] * b.v[0];
  return CarryProducts(t0, t1, t2, t3, t4);
}

[[gnu::always_inline]] inline Fe Square(const Fe& a) {
  const uint64_t d0 = 2 * a.v[0], d1 = 2 * a.v[1], d2 = 2 * a.v[2];
  const uint64_t a3_19 = 19 * a.v[3], a4_19 = 19 * a.v[4];
  u128 t0 = (u128)a.v[0] * a.v[0] + (u128)d1 * a4_19 + (u128)d2 * a3_19;
  u128 t1 = (u128)d0 * a.v[1] + (u128)d2 * a4_19 + (u128)a.v[3] * a3_19;
  u128 t2 = (u128)d0 * a.v[2] + (u128)a.v[1] * a.v[1] + (u128)(2 * a.v[3]) * a4_19;
  u128 t3 = (u128)d0 * a.v[3] + (u128)d1 * a.v[2] + (u128)a.v[4] * a4_19;
  u128 t4 = (u128)d0 * a.v[4] + (u128)d1 * a.v[3] + (u128)a.v[2] * a.v[2];
  return CarryProducts(t0, t1, t2, t3, t4);
}

Fe SquareTimes(Fe a, int n) {
  for (int i = 0; i < n; ++i) a = Square(a);
  return a;
}
}  // namespace

Fe FeMul(const Fe& a, const Fe& b) { return Mul(a, b); }

Fe FeInvert(const Fe& z) {
  // z^(2^255 - 21) by the usual chain of squarings and multiplications.
  Fe z2 = Square(z);
  Fe z9 = Mul(SquareTimes(z2, 2), z);
  Fe z11 = Mul(z9, z2);
  Fe z_5_0 = Mul(Square(z11), z9);                   // 2^5 - 1
  Fe z_10_0 = Mul(SquareTimes(z_5_0, 5), z_5_0);     // 2^10 - 1
  Fe z_20_0 = Mul(SquareTimes(z_10_0, 10), z_10_0);  // 2^20 - 1
  Fe z_40_0 = Mul(SquareTimes(z_20_0, 20), z_20_0);  // 2^40 - 1
  Fe z_50_0 = Mul(SquareTimes(z_40_0, 10), z_10_0);  // 2^50 - 1
  Fe z_100_0 = Mul(SquareTimes(z_50_0, 50), z_50_0);
  Fe z_200_0 = Mul(SquareTimes(z_100_0, 100), z_100_0);
  Fe z_250_0 = Mul(SquareTimes(z_200_0, 50), z_50_0);
  return Mul(SquareTimes(z_250_0, 5), z11);  // 2^255 - 32 + 11
}

Fe FeOne() { return Fe{{1, 0, 0, 0, 0}}; }

bool FeIsZero(const Fe& a) {
  uint8_t b[32];
  FeToBytes(b, a);
  uint8_t acc = 0;
  for (uint8_t x : b) acc |= x;
  return acc == 0;
}

}  // namespace velmo::crypto::internal
