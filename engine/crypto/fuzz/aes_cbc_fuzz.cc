// Message bodies from peers: decryption of arbitrary bytes gives a plaintext
// or nothing, and encryption round-trips.
#include "crypto/aes_cbc.h"

using namespace velmo::crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 48) return 0;
  ByteView key(data, 32), iv(data + 32, 16), body(data + 48, size - 48);
  auto plain = Aes256CbcDecrypt(key, iv, body);
  if (plain && plain->size() >= body.size()) __builtin_trap();
  auto again = Aes256CbcDecrypt(key, iv, Aes256CbcEncrypt(key, iv, body));
  if (!again || *again != Bytes(body.begin(), body.end())) __builtin_trap();
  return 0;
}
