#include "crypto/kyber1024.h"

#include <cstring>

#include "crypto/kem_core.h"

namespace velmo::crypto::kyber1024 {
namespace {

using P = kem::Params<4, 11, 5>;
static_assert(P::kPublicKeyBytes == kPublicKeyBytes);
static_assert(P::kSecretKeyBytes == kSecretKeyBytes);
static_assert(P::kCiphertextBytes == kCiphertextBytes);

constexpr size_t kPkOffset = P::kSecretKeyPkeBytes;
constexpr size_t kHashOffset = kPkOffset + kPublicKeyBytes;
constexpr size_t kZOffset = kHashOffset + 32;

// KDF(first || H(c)) = SHAKE256, 32 bytes.
void Kdf(uint8_t out[32], const uint8_t first[32], const uint8_t hash_c[32]) {
  Shake256 kdf;
  kdf.Absorb(ByteView(first, 32));
  kdf.Absorb(ByteView(hash_c, 32));
  kdf.Squeeze(std::span<uint8_t>(out, 32));
}

}  // namespace

KeyPair KeyPairFromSeed(std::span<const uint8_t, 64> seed) {
  KeyPair kp;
  SecretArray<64> rho_sigma;
  Sha3_512Hasher g;
  g.Absorb(seed.first<32>());
  g.Squeeze(rho_sigma.bytes);
  uint8_t* sk = kp.secret_key.data();
  kem::PkeKeyGen<P>(kp.public_key.data(), sk, rho_sigma.data(), rho_sigma.data() + 32);
  std::memcpy(sk + kPkOffset, kp.public_key.data(), kPublicKeyBytes);
  auto h = Sha3_256(kp.public_key);
  std::memcpy(sk + kHashOffset, h.data(), 32);
  std::memcpy(sk + kZOffset, seed.data() + 32, 32);
  return kp;
}

KeyPair GenerateKeyPair(Rng& rng) {
  SecretArray<64> seed;
  rng.Fill(seed.bytes);
  return KeyPairFromSeed(seed);
}

Encapsulation Encapsulate(const PublicKey& pk, std::span<const uint8_t, 32> random) {
  Encapsulation out;
  // m = H(random); (K-bar, r) = G(m || H(pk))
  SecretArray<64> buf;  // m || H(pk), then K-bar || r
  Sha3_256Hasher hm;
  hm.Absorb(random);
  hm.Squeeze(std::span<uint8_t>(buf.data(), 32));
  auto hpk = Sha3_256(pk);
  std::memcpy(buf.data() + 32, hpk.data(), 32);
  SecretArray<32> m;
  std::memcpy(m.data(), buf.data(), 32);
  Sha3_512Hasher g;
  g.Absorb(buf);
  g.Squeeze(buf.bytes);
  kem::PkeEncrypt<P>(out.ciphertext.data(), pk.data(), m.data(), buf.data() + 32);
  auto hc = Sha3_256(out.ciphertext);
  Kdf(out.shared_secret.data(), buf.data(), hc.data());
  return out;
}

Encapsulation Encapsulate(const PublicKey& pk, Rng& rng) {
  SecretArray<32> random;
  rng.Fill(random.bytes);
  return Encapsulate(pk, random);
}

SharedSecret Decapsulate(const SecretKey& sk, const Ciphertext& ciphertext) {
  const uint8_t* s = sk.data();
  SecretArray<64> buf;  // m' || h, then K-bar' || r'
  kem::PkeDecrypt<P>(buf.data(), s, ciphertext.data());
  std::memcpy(buf.data() + 32, s + kHashOffset, 32);
  Sha3_512Hasher g;
  g.Absorb(buf);
  SecretArray<32> m;
  std::memcpy(m.data(), buf.data(), 32);
  g.Squeeze(buf.bytes);
  Ciphertext again;
  kem::PkeEncrypt<P>(again.data(), s + kPkOffset, m.data(), buf.data() + 32);
  const uint8_t differs = kem::CtDiffers(again.data(), ciphertext.data(), kCiphertextBytes);
  // The re-encryption of a rejected ciphertext depends on the secret key.
  secure_wipe(again.data(), again.size());
  // On mismatch K-bar' is replaced by z before the KDF.
  kem::CtSelect(buf.data(), s + kZOffset, 32, differs);
  auto hc = Sha3_256(ciphertext);
  SharedSecret out;
  Kdf(out.data(), buf.data(), hc.data());
  return out;
}

}  // namespace velmo::crypto::kyber1024
