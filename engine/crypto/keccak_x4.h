// Four SHAKE instances run side by side, for matrix expansion and noise
// sampling, where every input is one short block. With AVX2 the four
// permutations run as one; without it, one after the other. Internal to the
// crypto layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/cpu.h"
#include "crypto/keccak.h"
#include "crypto/secure_bytes.h"

namespace velmo::crypto::internal {

// Lane i of instance j is state[4 * i + j]; `state` is 32-byte aligned.
void KeccakF1600x4Avx2(uint64_t state[25 * 4]);

template <size_t kRate>
class ShakeX4 {
 public:
  // Absorbs in[j] (all `len` bytes long, len < kRate) into instance j and
  // pads with the SHAKE domain bits.
  ShakeX4(const uint8_t* const in[4], size_t len) {
    for (int j = 0; j < 4; ++j) {
      for (size_t b = 0; b < len; ++b) {
        Byte(j, b) ^= in[j][b];
      }
      Byte(j, len) ^= 0x1F;
      Byte(j, kRate - 1) ^= 0x80;
    }
  }
  ~ShakeX4() { secure_wipe(s_, sizeof(s_)); }

  // SqueezeBlocks writes the next `blocks` rate-sized blocks of instance j
  // to out[j].
  void SqueezeBlocks(uint8_t* const out[4], size_t blocks) {
    for (size_t n = 0; n < blocks; ++n) {
      Permute();
      for (int j = 0; j < 4; ++j) {
        for (size_t i = 0; i < kRate / 8; ++i) {
          std::memcpy(out[j] + n * kRate + 8 * i, &s_[4 * i + j], 8);
        }
      }
    }
  }

 private:
  uint8_t& Byte(int j, size_t b) {
    return reinterpret_cast<uint8_t*>(&s_[4 * (b / 8) + j])[b % 8];
  }

  void Permute() {
    if (UseAvx2()) {
      KeccakF1600x4Avx2(s_);
      return;
    }
    for (int j = 0; j < 4; ++j) {
      uint64_t one[25];
      for (int i = 0; i < 25; ++i) one[i] = s_[4 * i + j];
      KeccakF1600(one);
      for (int i = 0; i < 25; ++i) s_[4 * i + j] = one[i];
      secure_wipe(one, sizeof(one));
    }
  }

  alignas(32) uint64_t s_[25 * 4] = {};
};

using Shake128X4 = ShakeX4<168>;
using Shake256X4 = ShakeX4<136>;

}  // namespace velmo::crypto::internal
