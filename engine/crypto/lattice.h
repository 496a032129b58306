// Polynomial arithmetic in Z_q[X]/(X^256 + 1), q = 3329, shared by ML-KEM-768
// and Kyber-1024. Internal to the crypto layer. Nothing here branches on or
// indexes memory by a coefficient's value, except rejection sampling of the
// public matrix.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmo::crypto::lattice {

constexpr int kN = 256;
constexpr int16_t kQ = 3329;

// Poly holds 256 coefficients. Unless a function says otherwise, inputs are
// in (-q, q) and outputs of Reduce are in [-(q-1)/2, (q-1)/2], of Canonical
// in [0, q).
struct alignas(32) Poly {
  int16_t c[kN];
};

// Forward NTT (FIPS 203 algorithm 9); input in (-q, q), output reduced.
void Ntt(Poly* p);
// Inverse NTT (algorithm 10) with an extra factor R = 2^16, which cancels the
// factor R^-1 that BaseMulAcc leaves; output reduced.
void InvNtt(Poly* p);
// r = sum over i < k of a[i] * b[i] in the NTT domain, times R^-1; inputs
// reduced, output in (-q, q).
void BaseMulAcc(Poly* r, const Poly* a, const Poly* b, int k);
// p = p * R mod q (cancels the R^-1 of BaseMulAcc without an inverse NTT).
void ToMont(Poly* p);
void Add(Poly* r, const Poly* a, const Poly* b);
void Sub(Poly* r, const Poly* a, const Poly* b);
void Reduce(Poly* p);
// Canonical takes a reduced polynomial to [0, q).
void Canonical(Poly* p);

// SampleCbd2 draws coefficients in [-2, 2] from 128 bytes (eta = 2).
void SampleCbd2(Poly* p, const uint8_t buf[128]);
// RejectSample appends coefficients below q read as 12-bit pairs from `buf`
// (whose length is a multiple of 3) to p->c[*filled..256); returns whether
// the polynomial is complete.
bool RejectSample(Poly* p, int* filled, const uint8_t* buf, size_t len);

// 12-bit encoding (384 bytes); the input must be canonical. Decoding reduces
// modulo q; IsCanonical12 tells whether every encoded value is below q.
void ToBytes12(uint8_t out[384], const Poly* p);
void FromBytes12(Poly* p, const uint8_t in[384]);
bool IsCanonical12(const uint8_t in[384]);

// Compress_d then ByteEncode_d (32*d bytes) of a canonical polynomial, for
// d in {1, 4, 5, 10, 11}; and ByteDecode_d then Decompress_d.
template <int kD>
void Compress(uint8_t* out, const Poly* p);
template <int kD>
void Decompress(Poly* p, const uint8_t* in);

// The message polynomial: bit i of m becomes (q + 1) / 2 or 0.
void FromMessage(Poly* p, const uint8_t m[32]);

}  // namespace velmo::crypto::lattice
