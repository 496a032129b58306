// Signatures and keys from peers: verification of arbitrary bytes returns an
// answer without faulting, and what we sign always verifies.
#include "crypto/xeddsa.h"

using namespace velmo::crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 32 + 64) return 0;
  std::span<const uint8_t, 32> key_bytes(data, 32);
  ByteView sig(data + 32, 64);
  ByteView msg(data + 96, size - 96);
  (void)XEdDsaVerify(PublicKey(key_bytes), msg, sig);
  (void)XEdDsaVerify(PublicKey(key_bytes), msg, ByteView(data, size % 130));

  PrivateKey priv(key_bytes);
  SeededRng rng(sig);
  Signature s = XEdDsaSign(priv, msg, rng);
  if (!XEdDsaVerify(priv.GetPublicKey(), msg, s)) __builtin_trap();
  return 0;
}
