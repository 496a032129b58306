// AVX2 forms of the NTT, its inverse and the base multiplication, 16
// coefficients a vector. Coefficients stay in the standard order: butterflies
// inside a vector pair each lane with its partner by a lane swap and blends,
// so the results are interchangeable with the portable code's. Built with
// AVX2 enabled and called only when the CPU has it (lattice.cc); it includes
// no header with inline functions, whose copies compiled here could be the
// ones the linker keeps, and has no static initialisers.
#include <immintrin.h>

#include <cstdint>

#include "crypto/lattice.h"

namespace velmo::crypto::lattice::internal {

extern const int16_t* const kNttInner;
extern const int16_t* const kInvNttInner;
extern const int16_t* const kBaseMulGammas;
extern const int16_t* const kZetaTable;
extern const int16_t kInvNttScale;

void NttAvx2(Poly* p);
void InvNttAvx2(Poly* p);
void BaseMulAccAvx2(Poly* r, const Poly* a, const Poly* b, int k);

namespace {

using V = __m256i;

inline V Q() { return _mm256_set1_epi16(kQ); }

// Montgomery product a b 2^-16 mod q, lane by lane; result in (-q, q).
inline V MulMont(V a, V b) {
  const V lo = _mm256_mullo_epi16(a, b);
  const V hi = _mm256_mulhi_epi16(a, b);
  const V t = _mm256_mullo_epi16(lo, _mm256_set1_epi16(-3327));  // q^-1
  return _mm256_sub_epi16(hi, _mm256_mulhi_epi16(t, Q()));
}

// Centered reduction, the same arithmetic as the portable BarrettReduce.
inline V Barrett(V a) {
  V t = _mm256_mulhi_epi16(a, _mm256_set1_epi16(20159));
  t = _mm256_srai_epi16(_mm256_add_epi16(t, _mm256_set1_epi16(512)), 10);
  return _mm256_sub_epi16(a, _mm256_mullo_epi16(t, Q()));
}

inline V Load(const int16_t* p) { return _mm256_load_si256(reinterpret_cast<const V*>(p)); }
inline void Store(int16_t* p, V v) { _mm256_store_si256(reinterpret_cast<V*>(p), v); }

// The partner lanes at distance 8, 4 and 2 coefficients.
template <int kLen>
inline V Swap(V f) {
  if constexpr (kLen == 8) return _mm256_permute4x64_epi64(f, 0x4E);
  if constexpr (kLen == 4) return _mm256_shuffle_epi32(f, 0x4E);
  if constexpr (kLen == 2) return _mm256_shuffle_epi32(f, 0xB1);
}

// The 32-bit lanes holding the upper coefficient of each butterfly.
template <int kLen>
constexpr int UpperMask() {
  return kLen == 8 ? 0xF0 : kLen == 4 ? 0xCC : 0xAA;
}

// Forward butterflies inside each vector: lower lane f[j] + z f[j+len],
// upper lane f[j] - z f[j+len], with the sign folded into the table.
template <int kLen>
void ForwardInner(int16_t* f, const int16_t* zetas) {
  for (int v = 0; v < 16; ++v) {
    const V x = Load(f + 16 * v);
    const V partner = Swap<kLen>(x);
    const V a = _mm256_blend_epi32(x, partner, UpperMask<kLen>());  // f[j]
    const V b = _mm256_blend_epi32(partner, x, UpperMask<kLen>());  // f[j+len]
    Store(f + 16 * v, _mm256_add_epi16(a, MulMont(b, Load(zetas + 16 * v))));
  }
}

// Inverse butterflies inside each vector: lower lane reduced f[j] + f[j+len],
// upper lane z (f[j+len] - f[j]).
template <int kLen>
void InverseInner(int16_t* f, const int16_t* zetas) {
  for (int v = 0; v < 16; ++v) {
    const V x = Load(f + 16 * v);
    const V partner = Swap<kLen>(x);
    const V sum = Barrett(_mm256_add_epi16(x, partner));
    const V diff = MulMont(_mm256_sub_epi16(x, partner), Load(zetas + 16 * v));
    Store(f + 16 * v, _mm256_blend_epi32(sum, diff, UpperMask<kLen>()));
  }
}

}  // namespace

void NttAvx2(Poly* p) {
  int16_t* f = p->c;
  // Distances 128 to 16: whole vectors pair up, one zeta per block.
  int k = 1;
  for (int len = 128; len >= 16; len >>= 1) {
    for (int start = 0; start < kN; start += 2 * len) {
      const V z = _mm256_set1_epi16(kZetaTable[k++]);
      for (int j = start; j < start + len; j += 16) {
        const V lo = Load(f + j), hi = Load(f + j + len);
        const V t = MulMont(hi, z);
        Store(f + j + len, _mm256_sub_epi16(lo, t));
        Store(f + j, _mm256_add_epi16(lo, t));
      }
    }
  }
  ForwardInner<8>(f, kNttInner);
  ForwardInner<4>(f, kNttInner + 256);
  ForwardInner<2>(f, kNttInner + 512);
  for (int v = 0; v < 16; ++v) Store(f + 16 * v, Barrett(Load(f + 16 * v)));
}

void InvNttAvx2(Poly* p) {
  int16_t* f = p->c;
  InverseInner<2>(f, kInvNttInner);
  InverseInner<4>(f, kInvNttInner + 256);
  InverseInner<8>(f, kInvNttInner + 512);
  for (int len = 16; len <= 128; len <<= 1) {
    for (int start = 0, block = 0; start < kN; start += 2 * len, ++block) {
      const V z = _mm256_set1_epi16(kZetaTable[256 / len - 1 - block]);
      for (int j = start; j < start + len; j += 16) {
        const V lo = Load(f + j), hi = Load(f + j + len);
        Store(f + j, Barrett(_mm256_add_epi16(lo, hi)));
        Store(f + j + len, MulMont(_mm256_sub_epi16(hi, lo), z));
      }
    }
  }
  const V scale = _mm256_set1_epi16(kInvNttScale);
  for (int v = 0; v < 16; ++v) Store(f + 16 * v, Barrett(MulMont(Load(f + 16 * v), scale)));
}

void BaseMulAccAvx2(Poly* r, const Poly* a, const Poly* b, int k) {
  // Swaps the two coefficients of each pair.
  const V swap_pairs = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                        2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  // After the pairwise sums: c0 of four pairs, then c1 of the same four, per
  // 128-bit half; this interleaves them back into (c0, c1) pairs.
  const V interleave = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                                        0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  for (int v = 0; v < 16; ++v) {
    V same = _mm256_setzero_si256();   // (a0 b0, a1 b1 gamma) per pair
    V cross = _mm256_setzero_si256();  // (a0 b1, a1 b0) per pair
    const V gammas = Load(kBaseMulGammas + 16 * v);
    for (int i = 0; i < k; ++i) {
      const V x = Load(a[i].c + 16 * v), y = Load(b[i].c + 16 * v);
      same = _mm256_add_epi16(same, MulMont(MulMont(x, y), gammas));
      cross = _mm256_add_epi16(cross, MulMont(x, _mm256_shuffle_epi8(y, swap_pairs)));
    }
    // Each term is below q in size and there are at most 4 of each, so the
    // sums of the pairs stay below 8 q.
    const V sums = _mm256_hadd_epi16(same, cross);
    Store(r->c + 16 * v, Barrett(_mm256_shuffle_epi8(sums, interleave)));
  }
}

}  // namespace velmo::crypto::lattice::internal
