// Kyber ciphertexts and public keys from peers: decapsulation and
// encapsulation take any bytes without faulting; honest round trips agree.
#include <cstring>

#include "crypto/kyber1024.h"

using namespace velmo::crypto;
using namespace velmo::crypto::kyber1024;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 64 + 32) return 0;
  KeyPair kp = KeyPairFromSeed(std::span<const uint8_t, 64>(data, 64));
  std::span<const uint8_t, 32> random(data + 64, 32);
  ByteView rest(data + 96, size - 96);

  Ciphertext ct{};
  std::memcpy(ct.data(), rest.data(), std::min(rest.size(), ct.size()));
  (void)Decapsulate(kp.secret_key, ct);
  PublicKey pk{};
  std::memcpy(pk.data(), rest.data(), std::min(rest.size(), pk.size()));
  (void)Encapsulate(pk, random);

  Encapsulation enc = Encapsulate(kp.public_key, random);
  if (!ct_equal(Decapsulate(kp.secret_key, enc.ciphertext), enc.shared_secret)) {
    __builtin_trap();
  }
  return 0;
}
