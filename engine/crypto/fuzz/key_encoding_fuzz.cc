// Key strings from records and peers: every reader either fails with one of
// its texts or gives a key that encodes back to the bytes it read.
#include <cstring>

#include "crypto/key_encoding.h"

using namespace velmo::crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView in(data, size);
  if (auto pk = ReadPublicKey(in); pk.ok()) {
    auto enc = pk.value().Encode();
    if (size < 33 || std::memcmp(enc.data(), data, 33) != 0) __builtin_trap();
  } else if (pk.error().message.empty()) {
    __builtin_trap();
  }
  if (auto sk = ReadPrivateKey(in); sk.ok()) {
    auto b = sk.value().bytes();
    if ((b[0] & 7) != 0 || (b[31] & 0xC0) != 0x40) __builtin_trap();
  }
  if (auto k = ReadKyberPublicKey(in); k.ok()) {
    if (EncodeKyberPublicKey(k.value()) != Bytes(in.begin(), in.end())) __builtin_trap();
  }
  if (auto k = ReadKyberSecretKey(in); k.ok() && size != kEncodedKyberSecretKeyBytes) {
    __builtin_trap();
  }
  if (auto c = ReadKyberCiphertext(in); c.ok()) {
    if (EncodeKyberCiphertext(c.value()) != Bytes(in.begin(), in.end())) __builtin_trap();
  }
  return 0;
}
