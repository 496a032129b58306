#include "crypto/lattice.h"

#include <array>
#include <cstring>

#include "crypto/cpu.h"

namespace velmo::crypto::lattice {
namespace {

constexpr int32_t kQInv = -3327;  // q^-1 mod 2^16, as a signed 16-bit value

// a * 2^-16 mod q for |a| < q * 2^15; result in (-q, q).
inline int16_t MontgomeryReduce(int32_t a) {
  int16_t t = static_cast<int16_t>(static_cast<int16_t>(a) * kQInv);
  return static_cast<int16_t>((a - static_cast<int32_t>(t) * kQ) >> 16);
}

inline int16_t FqMul(int16_t a, int16_t b) {
  return MontgomeryReduce(static_cast<int32_t>(a) * b);
}

// Centered representative of a mod q, in [-(q-1)/2, (q-1)/2].
inline int16_t BarrettReduce(int16_t a) {
  constexpr int32_t kV = ((1 << 26) + kQ / 2) / kQ;
  int16_t t = static_cast<int16_t>((kV * a + (1 << 25)) >> 26);
  return static_cast<int16_t>(a - t * kQ);
}

constexpr int BitRev7(int i) {
  int r = 0;
  for (int b = 0; b < 7; ++b) r |= ((i >> b) & 1) << (6 - b);
  return r;
}

constexpr int64_t PowMod(int64_t base, int64_t e) {
  int64_t r = 1;
  for (base %= kQ; e > 0; e >>= 1, base = base * base % kQ) {
    if (e & 1) r = r * base % kQ;
  }
  return r;
}

// x * 2^16 mod q, centered.
constexpr int16_t Mont(int64_t x) {
  int64_t v = (x % kQ + kQ) % kQ * 65536 % kQ;
  return static_cast<int16_t>(v > kQ / 2 ? v - kQ : v);
}

// zeta^BitRev7(i) and, for the base multiplication, zeta^(2 BitRev7(i) + 1),
// both in Montgomery form; zeta = 17.
constexpr std::array<int16_t, 128> kZetas = [] {
  std::array<int16_t, 128> z{};
  for (int i = 0; i < 128; ++i) z[i] = Mont(PowMod(17, BitRev7(i)));
  return z;
}();
constexpr std::array<int16_t, 128> kGammas = [] {
  std::array<int16_t, 128> g{};
  for (int i = 0; i < 128; ++i) g[i] = Mont(PowMod(17, 2 * BitRev7(i) + 1));
  return g;
}();
// R^2 / 128 in Montgomery form: the inverse NTT's final factor, giving the
// division by 128 and the factor R.
constexpr int16_t kInvNttFactor = Mont(PowMod(65536 % kQ, 1) * PowMod(128, kQ - 2));
constexpr int16_t kRSquared = Mont(65536 % kQ);

// Per-vector constants of the AVX2 code (lattice_avx2.cc), which must not
// have static initialisers of its own. Lane l of vector v covers coefficient
// 16 v + l.
struct VectorTables {
  // Forward layers with distance 8, 4, 2 inside a vector: +zeta on the
  // lower lane of each butterfly, -zeta on the upper.
  int16_t ntt_inner[3][16][16];
  // Inverse layers with distance 2, 4, 8: zeta on the upper lanes.
  int16_t inv_inner[3][16][16];
  // Base multiplication: R mod q (the identity under FqMul) on even lanes,
  // gamma of the pair on odd lanes.
  int16_t gammas[16][16];
};

constexpr VectorTables MakeVectorTables() {
  VectorTables t{};
  const int dists[3] = {8, 4, 2};
  for (int layer = 0; layer < 3; ++layer) {
    const int len = dists[layer];
    for (int v = 0; v < 16; ++v) {
      for (int l = 0; l < 16; ++l) {
        const int c = 16 * v + l;
        const int block = c / (2 * len);
        const bool upper = (c % (2 * len)) >= len;
        // Forward: layer with distance len uses zetas[128 / len + block].
        const int16_t z = kZetas[128 / len + block];
        t.ntt_inner[layer][v][l] = upper ? static_cast<int16_t>(-z) : z;
      }
    }
  }
  const int inv_dists[3] = {2, 4, 8};
  for (int layer = 0; layer < 3; ++layer) {
    const int len = inv_dists[layer];
    for (int v = 0; v < 16; ++v) {
      for (int l = 0; l < 16; ++l) {
        const int c = 16 * v + l;
        const int block = c / (2 * len);
        // Inverse: the layer's zetas run down from 256 / len - 1.
        t.inv_inner[layer][v][l] = kZetas[256 / len - 1 - block];
      }
    }
  }
  for (int v = 0; v < 16; ++v) {
    for (int l = 0; l < 16; ++l) {
      t.gammas[v][l] = (l % 2 == 0) ? Mont(1) : kGammas[(16 * v + l) / 2];
    }
  }
  return t;
}

}  // namespace

namespace internal {
alignas(32) constexpr VectorTables kVectorTables = MakeVectorTables();
extern const int16_t* const kNttInner = &kVectorTables.ntt_inner[0][0][0];
extern const int16_t* const kInvNttInner = &kVectorTables.inv_inner[0][0][0];
extern const int16_t* const kBaseMulGammas = &kVectorTables.gammas[0][0];
extern const int16_t* const kZetaTable = kZetas.data();
extern const int16_t kInvNttScale = kInvNttFactor;

void NttAvx2(Poly* p);
void InvNttAvx2(Poly* p);
void BaseMulAccAvx2(Poly* r, const Poly* a, const Poly* b, int k);
}  // namespace internal

void Ntt(Poly* p) {
  if (crypto::internal::UseAvx2()) {
    internal::NttAvx2(p);
    return;
  }
  int16_t* f = p->c;
  int k = 1;
  for (int len = 128; len >= 2; len >>= 1) {
    for (int start = 0; start < kN; start += 2 * len) {
      const int16_t zeta = kZetas[k++];
      for (int j = start; j < start + len; ++j) {
        int16_t t = FqMul(zeta, f[j + len]);
        f[j + len] = static_cast<int16_t>(f[j] - t);
        f[j] = static_cast<int16_t>(f[j] + t);
      }
    }
  }
  Reduce(p);
}

void InvNtt(Poly* p) {
  if (crypto::internal::UseAvx2()) {
    internal::InvNttAvx2(p);
    return;
  }
  int16_t* f = p->c;
  int k = 127;
  for (int len = 2; len <= 128; len <<= 1) {
    for (int start = 0; start < kN; start += 2 * len) {
      const int16_t zeta = kZetas[k--];
      for (int j = start; j < start + len; ++j) {
        int16_t t = f[j];
        f[j] = BarrettReduce(static_cast<int16_t>(t + f[j + len]));
        f[j + len] = FqMul(zeta, static_cast<int16_t>(f[j + len] - t));
      }
    }
  }
  for (int j = 0; j < kN; ++j) f[j] = BarrettReduce(FqMul(f[j], kInvNttFactor));
}

void BaseMulAcc(Poly* r, const Poly* a, const Poly* b, int k) {
  if (crypto::internal::UseAvx2()) {
    internal::BaseMulAccAvx2(r, a, b, k);
    return;
  }
  for (int i = 0; i < kN / 2; ++i) {
    const int16_t gamma = kGammas[i];
    int32_t c0 = 0, c1 = 0;
    for (int v = 0; v < k; ++v) {
      const int16_t a0 = a[v].c[2 * i], a1 = a[v].c[2 * i + 1];
      const int16_t b0 = b[v].c[2 * i], b1 = b[v].c[2 * i + 1];
      // a1 b1 gamma is reduced once before it joins the sum, so the sum
      // stays below q 2^15 for k up to 4.
      c0 += static_cast<int32_t>(a0) * b0 +
            static_cast<int32_t>(FqMul(a1, b1)) * gamma;
      c1 += static_cast<int32_t>(a0) * b1 + static_cast<int32_t>(a1) * b0;
    }
    r->c[2 * i] = MontgomeryReduce(c0);
    r->c[2 * i + 1] = MontgomeryReduce(c1);
  }
}

void ToMont(Poly* p) {
  for (int16_t& x : p->c) x = FqMul(x, kRSquared);
}

void Add(Poly* r, const Poly* a, const Poly* b) {
  for (int i = 0; i < kN; ++i) r->c[i] = static_cast<int16_t>(a->c[i] + b->c[i]);
}

void Sub(Poly* r, const Poly* a, const Poly* b) {
  for (int i = 0; i < kN; ++i) r->c[i] = static_cast<int16_t>(a->c[i] - b->c[i]);
}

void Reduce(Poly* p) {
  for (int16_t& x : p->c) x = BarrettReduce(x);
}

void Canonical(Poly* p) {
  for (int16_t& x : p->c) x = static_cast<int16_t>(x + ((x >> 15) & kQ));
}

void SampleCbd2(Poly* p, const uint8_t buf[128]) {
  for (int i = 0; i < 32; ++i) {
    uint32_t t;
    std::memcpy(&t, buf + 4 * i, 4);
    uint32_t d = (t & 0x55555555) + ((t >> 1) & 0x55555555);
    for (int j = 0; j < 8; ++j) {
      int16_t a = static_cast<int16_t>((d >> (4 * j)) & 3);
      int16_t b = static_cast<int16_t>((d >> (4 * j + 2)) & 3);
      p->c[8 * i + j] = static_cast<int16_t>(a - b);
    }
  }
}

bool RejectSample(Poly* p, int* filled, const uint8_t* buf, size_t len) {
  // Candidates are written unconditionally and kept by advancing the count,
  // so the 19 % rejections cost no mispredicted branches. The matrix is
  // public, so the data-dependent count reveals nothing.
  int16_t out[kN + 2];
  int n = *filled;
  std::memcpy(out, p->c, sizeof(int16_t) * n);
  for (size_t i = 0; i + 3 <= len && n < kN; i += 3) {
    const uint16_t d1 = static_cast<uint16_t>(buf[i] | (buf[i + 1] & 0x0F) << 8);
    const uint16_t d2 = static_cast<uint16_t>(buf[i + 1] >> 4 | buf[i + 2] << 4);
    out[n] = static_cast<int16_t>(d1);
    n += d1 < kQ;
    out[n] = static_cast<int16_t>(d2);
    n += d2 < kQ;
  }
  n = n < kN ? n : kN;
  std::memcpy(p->c + *filled, out + *filled, sizeof(int16_t) * (n - *filled));
  *filled = n;
  return n == kN;
}

void ToBytes12(uint8_t out[384], const Poly* p) {
  for (int i = 0; i < kN / 2; ++i) {
    uint16_t a = static_cast<uint16_t>(p->c[2 * i]);
    uint16_t b = static_cast<uint16_t>(p->c[2 * i + 1]);
    out[3 * i] = static_cast<uint8_t>(a);
    out[3 * i + 1] = static_cast<uint8_t>(a >> 8 | b << 4);
    out[3 * i + 2] = static_cast<uint8_t>(b >> 4);
  }
}

void FromBytes12(Poly* p, const uint8_t in[384]) {
  for (int i = 0; i < kN / 2; ++i) {
    int16_t a = static_cast<int16_t>(in[3 * i] | (in[3 * i + 1] & 0x0F) << 8);
    int16_t b = static_cast<int16_t>(in[3 * i + 1] >> 4 | in[3 * i + 2] << 4);
    // Values up to 4095: subtract q once where needed, without a branch.
    a = static_cast<int16_t>(a - kQ);
    b = static_cast<int16_t>(b - kQ);
    p->c[2 * i] = static_cast<int16_t>(a + ((a >> 15) & kQ));
    p->c[2 * i + 1] = static_cast<int16_t>(b + ((b >> 15) & kQ));
  }
}

bool IsCanonical12(const uint8_t in[384]) {
  bool ok = true;
  for (int i = 0; i < kN / 2; ++i) {
    int a = in[3 * i] | (in[3 * i + 1] & 0x0F) << 8;
    int b = in[3 * i + 1] >> 4 | in[3 * i + 2] << 4;
    ok &= a < kQ && b < kQ;
  }
  return ok;
}

template <int kD>
void Compress(uint8_t* out, const Poly* p) {
  uint64_t acc = 0;
  int bits = 0;
  for (int i = 0; i < kN; ++i) {
    // round(2^d x / q) mod 2^d; q is odd, so there are no ties. The division
    // by a constant compiles to a multiplication.
    uint32_t x = static_cast<uint16_t>(p->c[i]);
    uint32_t v = ((x << kD) + kQ / 2) / kQ & ((1u << kD) - 1);
    acc |= static_cast<uint64_t>(v) << bits;
    bits += kD;
    while (bits >= 8) {
      *out++ = static_cast<uint8_t>(acc);
      acc >>= 8;
      bits -= 8;
    }
  }
}

template <int kD>
void Decompress(Poly* p, const uint8_t* in) {
  uint64_t acc = 0;
  int bits = 0;
  for (int i = 0; i < kN; ++i) {
    while (bits < kD) {
      acc |= static_cast<uint64_t>(*in++) << bits;
      bits += 8;
    }
    uint32_t v = static_cast<uint32_t>(acc) & ((1u << kD) - 1);
    acc >>= kD;
    bits -= kD;
    p->c[i] = static_cast<int16_t>((v * kQ + (1u << (kD - 1))) >> kD);
  }
}

template void Compress<1>(uint8_t*, const Poly*);
template void Compress<4>(uint8_t*, const Poly*);
template void Compress<5>(uint8_t*, const Poly*);
template void Compress<10>(uint8_t*, const Poly*);
template void Compress<11>(uint8_t*, const Poly*);
template void Decompress<4>(Poly*, const uint8_t*);
template void Decompress<5>(Poly*, const uint8_t*);
template void Decompress<10>(Poly*, const uint8_t*);
template void Decompress<11>(Poly*, const uint8_t*);

void FromMessage(Poly* p, const uint8_t m[32]) {
  for (int i = 0; i < kN; ++i) {
    int16_t bit = static_cast<int16_t>((m[i / 8] >> (i % 8)) & 1);
    p->c[i] = static_cast<int16_t>(-bit & ((kQ + 1) / 2));
  }
}

}  // namespace velmo::crypto::lattice
