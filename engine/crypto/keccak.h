// Keccak-f[1600] and the FIPS 202 functions the lattice KEMs need: SHA3-256,
// SHA3-512, SHAKE128 and SHAKE256, with absorbing and squeezing in pieces of
// any size (matrix expansion squeezes a few blocks at a time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "crypto/secure_bytes.h"

namespace velmo::crypto {

// KeccakF1600 applies the 24-round permutation to the 25 lanes.
void KeccakF1600(uint64_t state[25]);

// KeccakSponge: absorb any number of pieces, then squeeze any number of
// pieces. Absorbing after the first squeeze is not allowed. The state is
// wiped when the sponge is destroyed.
template <size_t kRate, uint8_t kDomain>
class KeccakSponge {
 public:
  static constexpr size_t kRateBytes = kRate;

  KeccakSponge() = default;
  KeccakSponge(const KeccakSponge&) = default;
  KeccakSponge& operator=(const KeccakSponge&) = default;
  ~KeccakSponge() { secure_wipe(s_, sizeof(s_)); }

  void Absorb(ByteView data) {
    const uint8_t* p = data.data();
    size_t n = data.size();
    if (pos_ != 0) {
      size_t take = std::min(n, kRate - pos_);
      XorBytes(pos_, p, take);
      pos_ += take;
      p += take;
      n -= take;
      if (pos_ < kRate) return;
      KeccakF1600(s_);
      pos_ = 0;
    }
    for (; n >= kRate; p += kRate, n -= kRate) {
      for (size_t i = 0; i < kRate / 8; ++i) {
        uint64_t w;
        std::memcpy(&w, p + 8 * i, 8);
        s_[i] ^= w;
      }
      KeccakF1600(s_);
    }
    XorBytes(0, p, n);
    pos_ = n;
  }

  // Squeeze writes the next out.size() bytes of output, padding the input
  // first if this is the first squeeze.
  void Squeeze(std::span<uint8_t> out) {
    Finish();
    uint8_t* o = out.data();
    size_t n = out.size();
    while (n > 0) {
      if (pos_ == kRate) {
        KeccakF1600(s_);
        pos_ = 0;
      }
      size_t take = std::min(n, kRate - pos_);
      std::memcpy(o, Bytes() + pos_, take);
      pos_ += take;
      o += take;
      n -= take;
    }
  }

  // SqueezeBlocks writes `blocks` whole rate-sized blocks. Only valid while
  // the output so far is whole blocks.
  void SqueezeBlocks(uint8_t* out, size_t blocks) {
    Finish();
    for (size_t b = 0; b < blocks; ++b, out += kRate) {
      KeccakF1600(s_);
      std::memcpy(out, Bytes(), kRate);
    }
    pos_ = kRate;
  }

 private:
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(s_); }
  void XorBytes(size_t at, const uint8_t* p, size_t n) {
    uint8_t* b = Bytes() + at;
    for (size_t i = 0; i < n; ++i) b[i] ^= p[i];
  }
  void Finish() {
    if (squeezing_) return;
    Bytes()[pos_] ^= kDomain;
    Bytes()[kRate - 1] ^= 0x80;
    squeezing_ = true;
    pos_ = kRate;  // the first squeeze permutes
  }

  uint64_t s_[25] = {};
  size_t pos_ = 0;
  bool squeezing_ = false;
};

using Shake128 = KeccakSponge<168, 0x1F>;
using Shake256 = KeccakSponge<136, 0x1F>;
using Sha3_256Hasher = KeccakSponge<136, 0x06>;
using Sha3_512Hasher = KeccakSponge<72, 0x06>;

std::array<uint8_t, 32> Sha3_256(ByteView data);
std::array<uint8_t, 64> Sha3_512(ByteView data);

}  // namespace velmo::crypto
