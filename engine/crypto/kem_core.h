// The IND-CPA encryption scheme under both KEMs (K-PKE of FIPS 203, which is
// round-3 Kyber's CPAPKE with the same arithmetic), parameterised by the rank
// and the compression widths. Internal to the crypto layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/keccak.h"
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

// KeyGen of the encryption scheme from (rho, sigma): writes the public key
// (t-hat encoded, then rho) and the secret key (s-hat encoded).
template <class P>
void PkeKeyGen(uint8_t* pk, uint8_t* sk, const uint8_t rho[32], const uint8_t sigma[32]) {
  constexpr int K = P::kK;
  SecretPolys<K> s;
  SecretPolys<K> e;
  for (int i = 0; i < K; ++i) SampleNoise(&s[i], sigma, static_cast<uint8_t>(i));
  for (int i = 0; i < K; ++i) SampleNoise(&e[i], sigma, static_cast<uint8_t>(K + i));
  for (int i = 0; i < K; ++i) lattice::Ntt(&s[i]);
  for (int i = 0; i < K; ++i) lattice::Ntt(&e[i]);
  // t-hat_i = sum_j A[i][j] s-hat_j + e-hat_i, one matrix row at a time.
  for (int i = 0; i < K; ++i) {
    Poly row[K];
    for (int j = 0; j < K; ++j) {
      SampleMatrixEntry(&row[j], rho, static_cast<uint8_t>(j), static_cast<uint8_t>(i));
    }
    Poly t;
    lattice::BaseMulAcc(&t, row, s.p, K);
    lattice::ToMont(&t);
    lattice::Add(&t, &t, &e[i]);
    lattice::Reduce(&t);
    lattice::Canonical(&t);
    lattice::ToBytes12(pk + i * P::kPolyBytes, &t);
  }
  std::memcpy(pk + P::kVectorBytes, rho, 32);
  for (int i = 0; i < K; ++i) {
    lattice::Canonical(&s[i]);
    lattice::ToBytes12(sk + i * P::kPolyBytes, &s[i]);
  }
}

// The first half of encryption, which needs only rho: samples r, e1, e2 from
// the coins, writes ciphertext part 1 (u compressed) and returns r-hat and e2
// for the second half.
template <class P>
void PkeEncryptU(uint8_t* ct1, Poly* r_hat, Poly* e2, const uint8_t rho[32],
                 const uint8_t coins[32]) {
  constexpr int K = P::kK;
  SecretPolys<K> e1;
  for (int i = 0; i < K; ++i) SampleNoise(&r_hat[i], coins, static_cast<uint8_t>(i));
  for (int i = 0; i < K; ++i) SampleNoise(&e1[i], coins, static_cast<uint8_t>(K + i));
  SampleNoise(e2, coins, static_cast<uint8_t>(2 * K));
  for (int i = 0; i < K; ++i) lattice::Ntt(&r_hat[i]);
  // u_i = NTT^-1(sum_j A[j][i] r-hat_j) + e1_i: row i of the transpose.
  for (int i = 0; i < K; ++i) {
    Poly col[K];
    for (int j = 0; j < K; ++j) {
      SampleMatrixEntry(&col[j], rho, static_cast<uint8_t>(i), static_cast<uint8_t>(j));
    }
    SecretPolys<1> u;
    lattice::BaseMulAcc(&u[0], col, r_hat, K);
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
