// The IND-CPA encryption scheme under both KEMs (K-PKE of FIPS 203, which is
// round-3 Kyber's CPAPKE with the same arithmetic), parameterised by the rank
// and the compression widths. Internal to the crypto layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/keccak.h"
#include "crypto/keccak_x4.h"
#include "crypto/lattice.h"
#include "crypto/secure_bytes.h"

namespace velmo::crypto::kem {

using lattice::Poly;

template <int kRank, int kDu, int kDv>
struct Params {
  static constexpr int kK = kRank;
  static constexpr int kCompressU = kDu;
  static constexpr int kCompressV = kDv;
  static constexpr size_t kPolyBytes = 384;
  static constexpr size_t kVectorBytes = kPolyBytes * kRank;
  static constexpr size_t kPublicKeyBytes = kVectorBytes + 32;
  static constexpr size_t kSecretKeyPkeBytes = kVectorBytes;
  static constexpr size_t kSecretKeyBytes = kSecretKeyPkeBytes + kPublicKeyBytes + 64;
  static constexpr size_t kCiphertext1Bytes = 32 * kDu * kRank;
  static constexpr size_t kCiphertext2Bytes = 32 * kDv;
  static constexpr size_t kCiphertextBytes = kCiphertext1Bytes + kCiphertext2Bytes;
};

// Wipes a polynomial array on every way out of a scope.
template <size_t N>
struct SecretPolys {
  Poly p[N];
  ~SecretPolys() { secure_wipe(p, sizeof(p)); }
  Poly& operator[](size_t i) { return p[i]; }
  const Poly& operator[](size_t i) const { return p[i]; }
};

// The public matrix entry sampled from SHAKE128(rho || j || i) (FIPS 203
// SampleNTT). Keeps squeezing until 256 coefficients are accepted.
inline void SampleMatrixEntry(Poly* out, const uint8_t rho[32], uint8_t j, uint8_t i) {
  Shake128 xof;
  uint8_t seed[34];
  std::memcpy(seed, rho, 32);
  seed[32] = j;
  seed[33] = i;
  xof.Absorb(ByteView(seed, 34));
  uint8_t buf[3 * Shake128::kRateBytes];
  xof.SqueezeBlocks(buf, 3);
  int filled = 0;
  if (lattice::RejectSample(out, &filled, buf, sizeof(buf))) return;
  do {
    xof.SqueezeBlocks(buf, 1);
  } while (!lattice::RejectSample(out, &filled, buf, Shake128::kRateBytes));
}

// CBD_2(PRF(seed, nonce)) with PRF = SHAKE256(seed || nonce), 128 bytes.
inline void SampleNoise(Poly* out, const uint8_t seed[32], uint8_t nonce) {
  Shake256 prf;
  uint8_t in[33];
  std::memcpy(in, seed, 32);
  in[32] = nonce;
  prf.Absorb(ByteView(in, 33));
  SecretArray<128> buf;
  prf.Squeeze(buf.bytes);
  lattice::SampleCbd2(out, buf.data());
  secure_wipe(in, sizeof(in));
}

// out[n] = CBD_2(PRF(seed, first_nonce + n)) for n < count, four at a time.
inline void SampleNoiseVector(Poly* out, const uint8_t seed[32], uint8_t first_nonce,
                              int count) {
  int n = 0;
  for (; count - n >= 2; n += 4) {
    SecretArray<4 * 33> in;
    SecretArray<4 * Shake256::kRateBytes> buf;
    const uint8_t* ins[4];
    uint8_t* outs[4];
    for (int j = 0; j < 4; ++j) {
      std::memcpy(in.data() + 33 * j, seed, 32);
      in.data()[33 * j + 32] = static_cast<uint8_t>(first_nonce + n + j);
      ins[j] = in.data() + 33 * j;
      outs[j] = buf.data() + Shake256::kRateBytes * j;
    }
    internal::Shake256X4 prf(ins, 33);
    prf.SqueezeBlocks(outs, 1);
    for (int j = 0; j < 4 && n + j < count; ++j) lattice::SampleCbd2(&out[n + j], outs[j]);
  }
  if (n < count) SampleNoise(&out[n], seed, static_cast<uint8_t>(first_nonce + n));
}

// The whole matrix, row-major: a[K i + j] = SampleNTT(rho || j || i), or its
// transpose (rho || i || j) for encryption. Four entries at a time; an entry
// whose first three blocks are not enough keeps squeezing on its own lane.
// Kept out of line so that tools can tell its public, rho-dependent
// sampling loop apart from the secret arithmetic of its callers.
template <int K>
[[gnu::noinline]] void ExpandMatrix(Poly* a, const uint8_t rho[32], bool transposed) {
  constexpr int kEntries = K * K;
  int e = 0;
  for (; kEntries - e >= 2; e += 4) {
    uint8_t seeds[4][34];
    const uint8_t* ins[4];
    uint8_t buf[4][3 * Shake128::kRateBytes];
    uint8_t* outs[4];
    for (int l = 0; l < 4; ++l) {
      const int idx = std::min(e + l, kEntries - 1);  // spare lanes repeat
      const int i = idx / K, j = idx % K;
      std::memcpy(seeds[l], rho, 32);
      seeds[l][32] = static_cast<uint8_t>(transposed ? i : j);
      seeds[l][33] = static_cast<uint8_t>(transposed ? j : i);
      ins[l] = seeds[l];
      outs[l] = buf[l];
    }
    internal::Shake128X4 xof(ins, 34);
    xof.SqueezeBlocks(outs, 3);
    int filled[4] = {0, 0, 0, 0};
    bool done = true;
    for (int l = 0; l < 4 && e + l < kEntries; ++l) {
      done &= lattice::RejectSample(&a[e + l], &filled[l], buf[l], sizeof(buf[l]));
    }
    while (!done) {
      xof.SqueezeBlocks(outs, 1);
      done = true;
      for (int l = 0; l < 4 && e + l < kEntries; ++l) {
        if (filled[l] < lattice::kN) {
          done &= lattice::RejectSample(&a[e + l], &filled[l], buf[l], Shake128::kRateBytes);
        }
      }
    }
  }
  if (e < kEntries) {
    const int i = e / K, j = e % K;
    SampleMatrixEntry(&a[e], rho, static_cast<uint8_t>(transposed ? i : j),
                      static_cast<uint8_t>(transposed ? j : i));
  }
}

// KeyGen of the encryption scheme from (rho, sigma): writes the public key
// (t-hat encoded, then rho) and the secret key (s-hat encoded).
template <class P>
void PkeKeyGen(uint8_t* pk, uint8_t* sk, const uint8_t rho[32], const uint8_t sigma[32]) {
  constexpr int K = P::kK;
  SecretPolys<2 * K> noise;  // s, then e: nonces 0 to 2K - 1
  SampleNoiseVector(noise.p, sigma, 0, 2 * K);
  const Poly* s = noise.p;
  const Poly* e = noise.p + K;
  for (int i = 0; i < 2 * K; ++i) lattice::Ntt(&noise[i]);
  Poly a[K * K];
  ExpandMatrix<K>(a, rho, false);
  // t-hat_i = sum_j A[i][j] s-hat_j + e-hat_i
  for (int i = 0; i < K; ++i) {
    Poly t;
    lattice::BaseMulAcc(&t, a + K * i, s, K);
    lattice::ToMont(&t);
    lattice::Add(&t, &t, &e[i]);
    lattice::Reduce(&t);
    lattice::Canonical(&t);
    lattice::ToBytes12(pk + i * P::kPolyBytes, &t);
  }
  std::memcpy(pk + P::kVectorBytes, rho, 32);
  for (int i = 0; i < K; ++i) {
    lattice::Canonical(&noise[i]);
    lattice::ToBytes12(sk + i * P::kPolyBytes, &noise[i]);
  }
}

// The first half of encryption, which needs only rho: samples r, e1, e2 from
// the coins, writes ciphertext part 1 (u compressed) and returns r-hat and e2
// for the second half.
template <class P>
void PkeEncryptU(uint8_t* ct1, Poly* r_hat, Poly* e2, const uint8_t rho[32],
                 const uint8_t coins[32]) {
  constexpr int K = P::kK;
  SecretPolys<2 * K + 1> noise;  // r, e1, e2: nonces 0 to 2K
  SampleNoiseVector(noise.p, coins, 0, 2 * K + 1);
  const Poly* e1 = noise.p + K;
  for (int i = 0; i < K; ++i) {
    r_hat[i] = noise[i];
    lattice::Ntt(&r_hat[i]);
  }
  *e2 = noise[2 * K];
  Poly at[K * K];
  ExpandMatrix<K>(at, rho, true);
  // u_i = NTT^-1(sum_j A[j][i] r-hat_j) + e1_i: row i of the transpose.
  for (int i = 0; i < K; ++i) {
    SecretPolys<1> u;
    lattice::BaseMulAcc(&u[0], at + K * i, r_hat, K);
    lattice::InvNtt(&u[0]);
    lattice::Add(&u[0], &u[0], &e1[i]);
    lattice::Reduce(&u[0]);
    lattice::Canonical(&u[0]);
    lattice::Compress<P::kCompressU>(ct1 + i * 32 * P::kCompressU, &u[0]);
  }
}

// The second half: v = NTT^-1(t-hat . r-hat) + e2 + Decompress_1(m), written
// compressed as ciphertext part 2. `t_bytes` is the encoded t-hat.
template <class P>
void PkeEncryptV(uint8_t* ct2, const uint8_t* t_bytes, const Poly* r_hat,
                 const Poly* e2, const uint8_t m[32]) {
  constexpr int K = P::kK;
  Poly t[K];
  for (int i = 0; i < K; ++i) lattice::FromBytes12(&t[i], t_bytes + i * P::kPolyBytes);
  SecretPolys<2> v;  // v, then the message polynomial
  lattice::BaseMulAcc(&v[0], t, r_hat, K);
  lattice::InvNtt(&v[0]);
  lattice::FromMessage(&v[1], m);
  lattice::Add(&v[0], &v[0], e2);
  lattice::Add(&v[0], &v[0], &v[1]);
  lattice::Reduce(&v[0]);
  lattice::Canonical(&v[0]);
  lattice::Compress<P::kCompressV>(ct2, &v[0]);
}

template <class P>
void PkeEncrypt(uint8_t* ct, const uint8_t* pk, const uint8_t m[32], const uint8_t coins[32]) {
  SecretPolys<P::kK + 1> noise;  // r-hat, then e2
  PkeEncryptU<P>(ct, noise.p, &noise[P::kK], pk + P::kVectorBytes, coins);
  PkeEncryptV<P>(ct + P::kCiphertext1Bytes, pk, noise.p, &noise[P::kK], m);
}

// Decrypt: m = Compress_1(v - NTT^-1(s-hat . NTT(u))).
template <class P>
void PkeDecrypt(uint8_t m[32], const uint8_t* sk, const uint8_t* ct) {
  constexpr int K = P::kK;
  Poly u[K];
  for (int i = 0; i < K; ++i) {
    lattice::Decompress<P::kCompressU>(&u[i], ct + i * 32 * P::kCompressU);
    lattice::Ntt(&u[i]);
  }
  SecretPolys<K> s;
  for (int i = 0; i < K; ++i) lattice::FromBytes12(&s[i], sk + i * P::kPolyBytes);
  for (int i = 0; i < K; ++i) lattice::Reduce(&s[i]);
  SecretPolys<2> w;  // s.u, then v
  lattice::BaseMulAcc(&w[0], s.p, u, K);
  lattice::InvNtt(&w[0]);
  lattice::Decompress<P::kCompressV>(&w[1], ct + P::kCiphertext1Bytes);
  lattice::Sub(&w[0], &w[1], &w[0]);
  lattice::Reduce(&w[0]);
  lattice::Canonical(&w[0]);
  lattice::Compress<1>(m, &w[0]);
}

// Constant-time helpers for the re-encryption check of decapsulation.
// The empty asm hides the value from the optimiser, so it cannot turn the
// mask arithmetic back into a branch.
inline uint32_t ValueBarrier(uint32_t v) {
  __asm__("" : "+r"(v));
  return v;
}

inline uint8_t CtDiffers(const uint8_t* a, const uint8_t* b, size_t n) {
  uint32_t d = 0;
  for (size_t i = 0; i < n; ++i) d |= a[i] ^ b[i];
  // 0 when equal, 0xFF otherwise.
  return static_cast<uint8_t>(0u - ((ValueBarrier(d) + 0xFF) >> 8));
}

// Copies `src` over `dst` when mask is 0xFF, leaves it when 0.
inline void CtSelect(uint8_t* dst, const uint8_t* src, size_t n, uint8_t mask) {
  for (size_t i = 0; i < n; ++i) dst[i] ^= mask & (dst[i] ^ src[i]);
}

}  // namespace velmo::crypto::kem
