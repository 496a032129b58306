// Ciphertexts, headers, vectors and stored states from peers and records:
// decapsulation of arbitrary bytes answers without faulting, and for keys
// derived from the input the split steps equal the standard encapsulation.
#include <cstring>

#include "crypto/mlkem768.h"

using namespace velmo::crypto;
using namespace velmo::crypto::mlkem768;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteView in(data, size);
  if (size < kSeedBytes + kMessageBytes) return 0;
  KeyPair kp = *KeyGen(in.first(kSeedBytes));
  ByteView m = in.subspan(kSeedBytes, kMessageBytes);
  ByteView rest = in.subspan(kSeedBytes + kMessageBytes);

  Bytes ct(kCiphertextBytes, 0);
  std::memcpy(ct.data(), rest.data(), std::min(rest.size(), ct.size()));
  if (!Decapsulate(kp.dk, ct)) __builtin_trap();
  (void)Decapsulate(kp.dk, rest);  // any length

  auto enc = Encapsulate(kp.ek, m);
  if (!enc) __builtin_trap();
  auto k = Decapsulate(kp.dk, enc->ciphertext);
  if (!k || !ct_equal(*k, enc->shared_secret)) __builtin_trap();

  ByteView dk = kp.dk;
  auto one = EncapsulateFirstStep(dk.subspan(kHeaderOffsetInDk, kHeaderBytes), m);
  auto two = EncapsulateSecondStep(one->state, dk.subspan(kVectorOffsetInDk, kVectorBytes));
  if (std::memcmp(one->ciphertext1.data(), enc->ciphertext.data(), kCiphertext1Bytes) != 0 ||
      std::memcmp(two->data(), enc->ciphertext.data() + kCiphertext1Bytes, kCiphertext2Bytes) != 0) {
    __builtin_trap();
  }

  // Arbitrary header, vector and state.
  Bytes vec(kVectorBytes, 0), hdr(kHeaderBytes, 0), state(kEncapsulationStateBytes, 0);
  std::memcpy(vec.data(), rest.data(), std::min(rest.size(), vec.size()));
  std::memcpy(hdr.data(), rest.data(), std::min(rest.size(), hdr.size()));
  std::memcpy(state.data(), rest.data(), std::min(rest.size(), state.size()));
  (void)VectorMatchesHeader(vec, hdr);
  (void)EncapsulateFirstStep(hdr, m);
  (void)EncapsulateSecondStep(state, vec);
  (void)Encapsulate(rest, m);
  return 0;
}
