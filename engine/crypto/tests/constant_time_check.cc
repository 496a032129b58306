// Constant-time check of the lattice KEMs, run under valgrind's memcheck:
// secret inputs are marked undefined, and memcheck then reports every branch
// and every memory address that depends on them. Rejection sampling of the
// matrix is exempt (constant_time.supp): it works on rho, which the
// encapsulation key publishes. Exit status 0; memcheck's own error status
// decides the test.
#include <valgrind/memcheck.h>

#include <cstdio>

#include "crypto/kyber1024.h"
#include "crypto/mlkem768.h"

using namespace velmo::crypto;

namespace {

template <class T>
void Secret(T* p, size_t n) {
  VALGRIND_MAKE_MEM_UNDEFINED(p, n);
}
template <class T>
void Public(T* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}

void MlKem768() {
  uint8_t seed[64], m[32];
  for (int i = 0; i < 64; ++i) seed[i] = static_cast<uint8_t>(i * 7);
  for (int i = 0; i < 32; ++i) m[i] = static_cast<uint8_t>(i * 5);
  Secret(seed, sizeof(seed));
  auto kp = *mlkem768::KeyGen(ByteView(seed, 64));
  // The encapsulation key, also inside dk with its hash, is public.
  Public(kp.ek.data(), kp.ek.size());
  Public(kp.dk.data() + mlkem768::kVectorOffsetInDk, mlkem768::kEncapsulationKeyBytes + 32);

  Secret(m, sizeof(m));
  auto enc = *mlkem768::Encapsulate(kp.ek, ByteView(m, 32));
  Public(enc.ciphertext.data(), enc.ciphertext.size());
  auto good = *mlkem768::Decapsulate(kp.dk, enc.ciphertext);
  enc.ciphertext[100] ^= 1;  // the implicit-rejection path
  auto bad = *mlkem768::Decapsulate(kp.dk, enc.ciphertext);

  ByteView dk = kp.dk;
  auto one = *mlkem768::EncapsulateFirstStep(
      dk.subspan(mlkem768::kHeaderOffsetInDk, mlkem768::kHeaderBytes), ByteView(m, 32));
  auto two = *mlkem768::EncapsulateSecondStep(
      one.state, dk.subspan(mlkem768::kVectorOffsetInDk, mlkem768::kVectorBytes));
  Public(good.data(), 32);
  Public(bad.data(), 32);
  Public(two.data(), two.size());
  std::printf("%d %d %d\n", good.bytes[0], bad.bytes[0], two[0]);
}

void Kyber1024() {
  uint8_t seed[64], m[32];
  for (int i = 0; i < 64; ++i) seed[i] = static_cast<uint8_t>(i * 3);
  for (int i = 0; i < 32; ++i) m[i] = static_cast<uint8_t>(i * 11);
  Secret(seed, sizeof(seed));
  auto kp = kyber1024::KeyPairFromSeed(std::span<const uint8_t, 64>(seed, 64));
  Public(kp.public_key.data(), kp.public_key.size());
  Public(kp.secret_key.data() + 1536, kyber1024::kPublicKeyBytes + 32);
  Secret(m, sizeof(m));
  auto enc = kyber1024::Encapsulate(kp.public_key, std::span<const uint8_t, 32>(m, 32));
  Public(enc.ciphertext.data(), enc.ciphertext.size());
  auto good = kyber1024::Decapsulate(kp.secret_key, enc.ciphertext);
  enc.ciphertext[7] ^= 1;
  auto bad = kyber1024::Decapsulate(kp.secret_key, enc.ciphertext);
  Public(good.data(), 32);
  Public(bad.data(), 32);
  std::printf("%d %d\n", good.bytes[0], bad.bytes[0]);
}

}  // namespace

int main() {
  MlKem768();
  Kyber1024();
  return 0;
}
