#include "crypto/keccak.h"

namespace velmo::crypto {

std::array<uint8_t, 32> Sha3_256(ByteView data) {
  Sha3_256Hasher h;
  h.Absorb(data);
  std::array<uint8_t, 32> out;
  h.Squeeze(out);
  return out;
}

std::array<uint8_t, 64> Sha3_512(ByteView data) {
  Sha3_512Hasher h;
  h.Absorb(data);
  std::array<uint8_t, 64> out;
  h.Squeeze(out);
  return out;
}

}  // namespace velmo::crypto
