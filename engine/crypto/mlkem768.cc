#include "crypto/mlkem768.h"

#include <cstring>

#include "crypto/kem_core.h"

namespace velmo::crypto::mlkem768 {
namespace {

using P = kem::Params<3, 10, 4>;
using lattice::Poly;
static_assert(P::kPublicKeyBytes == kEncapsulationKeyBytes);
static_assert(P::kSecretKeyBytes == kDecapsulationKeyBytes);
static_assert(P::kCiphertextBytes == kCiphertextBytes);
static_assert(P::kCiphertext1Bytes == kCiphertext1Bytes);
static_assert(P::kCiphertext2Bytes == kCiphertext2Bytes);
static_assert(P::kVectorBytes == kVectorBytes);
static_assert(kHeaderOffsetInDk == P::kSecretKeyPkeBytes + P::kVectorBytes);
static_assert(kEncapsulationStateBytes == (P::kK + 1) * 512 + kMessageBytes);

constexpr size_t kHashOffsetInDk = P::kSecretKeyPkeBytes + kEncapsulationKeyBytes;
constexpr size_t kZOffsetInDk = kHashOffsetInDk + 32;

// G(a || b) = SHA3-512, split into its two halves.
void G(uint8_t first[32], uint8_t second[32], ByteView a, ByteView b) {
  Sha3_512Hasher g;
  g.Absorb(a);
  g.Absorb(b);
  SecretArray<64> out;
  g.Squeeze(out.bytes);
  std::memcpy(first, out.data(), 32);
  std::memcpy(second, out.data() + 32, 32);
}

void StorePoly16(uint8_t* out, const Poly& p) {
  for (int i = 0; i < lattice::kN; ++i) {
    out[2 * i] = static_cast<uint8_t>(p.c[i]);
    out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(p.c[i]) >> 8);
  }
}

// Reads 16-bit values and reduces them modulo q, so a damaged state still
// keeps the arithmetic within its bounds.
void LoadPoly16(Poly* p, const uint8_t* in) {
  for (int i = 0; i < lattice::kN; ++i) {
    uint32_t v = in[2 * i] | uint32_t{in[2 * i + 1]} << 8;
    p->c[i] = static_cast<int16_t>(v % lattice::kQ);
  }
}

bool VectorIsCanonical(const uint8_t* vector) {
  bool ok = true;
  for (int i = 0; i < P::kK; ++i) ok &= lattice::IsCanonical12(vector + i * P::kPolyBytes);
  return ok;
}

}  // namespace

std::optional<KeyPair> KeyGen(ByteView seed) {
  if (seed.size() != kSeedBytes) return std::nullopt;
  KeyPair kp;
  // (rho, sigma) = G(d || k), with k = 3 the rank.
  SecretArray<32> rho, sigma;
  const uint8_t rank = P::kK;
  G(rho.data(), sigma.data(), seed.first(32), ByteView(&rank, 1));
  uint8_t* dk = kp.dk.data();
  kem::PkeKeyGen<P>(kp.ek.data(), dk, rho.data(), sigma.data());
  std::memcpy(dk + P::kSecretKeyPkeBytes, kp.ek.data(), kEncapsulationKeyBytes);
  auto h = Sha3_256(kp.ek);
  std::memcpy(dk + kHashOffsetInDk, h.data(), 32);
  std::memcpy(dk + kZOffsetInDk, seed.data() + 32, 32);
  return kp;
}

KeyPair GenerateKeyPair(Rng& rng) {
  SecretArray<kSeedBytes> seed;
  rng.Fill(seed.bytes);
  return *KeyGen(seed);
}

bool CheckEncapsulationKey(ByteView ek) {
  return ek.size() == kEncapsulationKeyBytes && VectorIsCanonical(ek.data());
}

bool CheckDecapsulationKey(ByteView dk) {
  if (dk.size() != kDecapsulationKeyBytes) return false;
  auto h = Sha3_256(dk.subspan(P::kSecretKeyPkeBytes, kEncapsulationKeyBytes));
  return std::memcmp(h.data(), dk.data() + kHashOffsetInDk, 32) == 0;
}

std::optional<Encapsulation> Encapsulate(ByteView ek, ByteView m) {
  if (!CheckEncapsulationKey(ek) || m.size() != kMessageBytes) {
    return std::nullopt;
  }
  Encapsulation out;
  auto h = Sha3_256(ek);
  SecretArray<32> coins;
  // (K, r) = G(m || H(ek))
  G(out.shared_secret.data(), coins.data(), m, h);
  kem::PkeEncrypt<P>(out.ciphertext.data(), ek.data(), m.data(), coins.data());
  return out;
}

std::optional<SharedSecret> Decapsulate(ByteView dk, ByteView ciphertext) {
  if (!CheckDecapsulationKey(dk) || ciphertext.size() != kCiphertextBytes) {
    return std::nullopt;
  }
  const uint8_t* ek = dk.data() + P::kSecretKeyPkeBytes;
  SecretArray<32> m;
  kem::PkeDecrypt<P>(m.data(), dk.data(), ciphertext.data());
  // (K', r') = G(m' || h)
  SharedSecret key;
  SecretArray<32> coins;
  G(key.data(), coins.data(), m, dk.subspan(kHashOffsetInDk, 32));
  // K-bar = J(z || c)
  SharedSecret rejection;
  Shake256 j;
  j.Absorb(dk.subspan(kZOffsetInDk, 32));
  j.Absorb(ciphertext);
  j.Squeeze(rejection.bytes);
  Ciphertext again;
  kem::PkeEncrypt<P>(again.data(), ek, m.data(), coins.data());
  const uint8_t differs = kem::CtDiffers(again.data(), ciphertext.data(), kCiphertextBytes);
  // The re-encryption of a rejected ciphertext depends on the secret key.
  secure_wipe(again.data(), again.size());
  kem::CtSelect(key.data(), rejection.data(), kSharedSecretBytes, differs);
  return key;
}

Header HeaderOf(const EncapsulationKey& ek) {
  Header header;
  std::memcpy(header.data(), ek.data() + kVectorBytes, 32);
  auto h = Sha3_256(ek);
  std::memcpy(header.data() + 32, h.data(), 32);
  return header;
}

std::span<const uint8_t, kVectorBytes> VectorOf(const EncapsulationKey& ek) {
  return std::span<const uint8_t, kVectorBytes>(ek.data(), kVectorBytes);
}

std::optional<FirstStep> EncapsulateFirstStep(ByteView header, ByteView m) {
  if (header.size() != kHeaderBytes || m.size() != kMessageBytes) {
    return std::nullopt;
  }
  FirstStep out;
  SecretArray<32> coins;
  // (K, r) = G(m || H(ek)), H(ek) being the header's second half.
  G(out.shared_secret.data(), coins.data(), m, header.subspan(32, 32));
  kem::SecretPolys<P::kK + 1> noise;  // r-hat, then e2
  kem::PkeEncryptU<P>(out.ciphertext1.data(), noise.p, &noise[P::kK], header.data(),
                      coins.data());
  uint8_t* state = out.state.data();
  for (int i = 0; i <= P::kK; ++i) {
    lattice::Canonical(&noise[i]);  // r-hat is reduced, e2 is in [-2, 2]
    StorePoly16(state + 512 * i, noise[i]);
  }
  std::memcpy(state + 512 * (P::kK + 1), m.data(), kMessageBytes);
  return out;
}

std::optional<Ciphertext2> EncapsulateSecondStep(ByteView state, ByteView vector) {
  if (state.size() != kEncapsulationStateBytes || vector.size() != kVectorBytes) {
    return std::nullopt;
  }
  kem::SecretPolys<P::kK + 1> noise;
  for (int i = 0; i <= P::kK; ++i) LoadPoly16(&noise[i], state.data() + 512 * i);
  Ciphertext2 out;
  kem::PkeEncryptV<P>(out.data(), vector.data(), noise.p, &noise[P::kK],
                      state.data() + 512 * (P::kK + 1));
  return out;
}

bool VectorMatchesHeader(ByteView vector, ByteView header) {
  if (vector.size() != kVectorBytes || header.size() != kHeaderBytes) {
    return false;
  }
  Sha3_256Hasher h;
  h.Absorb(vector);
  h.Absorb(header.first(32));
  std::array<uint8_t, 32> digest;
  h.Squeeze(digest);
  return VectorIsCanonical(vector.data()) &&
         std::memcmp(digest.data(), header.data() + 32, 32) == 0;
}

}  // namespace velmo::crypto::mlkem768
