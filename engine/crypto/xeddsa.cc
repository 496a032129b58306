#include "crypto/xeddsa.h"

#include <sodium.h>

#include <cstring>
#include <stdexcept>

#include "crypto/fe25519.h"
#include "crypto/sha2.h"
#include "crypto/sodium_init.h"

namespace velmo::crypto {
namespace {

// P: 2^256 - 2 in little-endian, the hash prefix that keeps the nonce hash
// apart from every Ed25519 hash.
constexpr uint8_t kNoncePrefix[32] = {
    0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Reduces a 64-byte little-endian number modulo the group order.
void ReduceWide(uint8_t out[32], uint8_t wide[64]) {
  crypto_core_ed25519_scalar_reduce(out, wide);
  secure_wipe(wide, 64);
}

// Edwards y = (u - 1) / (u + 1) for the Montgomery u, with bit 255 of u
// ignored. False for u = -1, which has no Edwards point; whether y belongs
// to a point at all is checked when the point is decoded.
bool MontgomeryToEdwardsY(const uint8_t u_bytes[32], uint8_t y_out[32]) {
  using namespace internal;
  Fe u = FeFromBytes(u_bytes);
  Fe u_plus_1 = FeAdd(u, FeOne());
  if (FeIsZero(u_plus_1)) {
    return false;
  }
  FeToBytes(y_out, FeMul(FeSub(u, FeOne()), FeInvert(u_plus_1)));
  return true;
}

}  // namespace

XEdDsaSigner::XEdDsaSigner(const PrivateKey& key) {
  EnsureSodium();
  std::memcpy(a_.data(), key.bytes().data(), 32);
  if (crypto_scalarmult_ed25519_base_noclamp(edwards_public_.data(), a_.data()) !=
      0) {
    // A clamped scalar is never a multiple of the group order.
    throw std::logic_error("XEdDSA: neutral public point");
  }
  uint8_t wide[64] = {};
  std::memcpy(wide, a_.data(), 32);
  ReduceWide(a_reduced_.data(), wide);
}

Signature XEdDsaSigner::Sign(ByteView message, Rng& rng) const {
  SecretArray<64> z;
  rng.Fill(z.bytes);

  // r = SHA-512(P || a || M || Z) mod q
  SecretArray<64> wide;
  Sha512Hasher nonce_hash;
  nonce_hash.Update(ByteView(kNoncePrefix, 32));
  nonce_hash.Update(a_);
  nonce_hash.Update(message);
  nonce_hash.Update(z);
  nonce_hash.Final(wide.bytes);
  SecretArray<32> r;
  ReduceWide(r.data(), wide.data());

  // R = r·B. r = 0 has probability 2^-252; the identity is still written.
  Signature sig;
  (void)crypto_scalarmult_ed25519_base_noclamp(sig.data(), r.data());

  // h = SHA-512(R || A || M) mod q
  Sha512Hasher challenge_hash;
  challenge_hash.Update(ByteView(sig.data(), 32));
  challenge_hash.Update(edwards_public_);
  challenge_hash.Update(message);
  challenge_hash.Final(wide.bytes);
  uint8_t h[32];
  ReduceWide(h, wide.data());

  // S = r + h·a mod q
  SecretArray<32> ha;
  crypto_core_ed25519_scalar_mul(ha.data(), h, a_reduced_.data());
  crypto_core_ed25519_scalar_add(sig.data() + 32, r.data(), ha.data());

  // S < q < 2^253, so the top bit is free for the public key's sign.
  sig[63] = static_cast<uint8_t>((sig[63] & 0x7F) | (edwards_public_[31] & 0x80));
  return sig;
}

Signature XEdDsaSign(const PrivateKey& key, ByteView message, Rng& rng) {
  return XEdDsaSigner(key).Sign(message, rng);
}

bool XEdDsaVerify(const PublicKey& key, ByteView message, ByteView signature) {
  if (signature.size() != kSignatureBytes) {
    return false;
  }
  EnsureSodium();
  uint8_t edwards_public[32];
  if (!MontgomeryToEdwardsY(key.bytes().data(), edwards_public)) {
    return false;
  }
  edwards_public[31] |= signature[63] & 0x80;

  uint8_t sig[kSignatureBytes];
  std::memcpy(sig, signature.data(), kSignatureBytes);
  sig[63] &= 0x7F;
  if (sig[63] & 0x60) {
    return false;  // S must be below 2^253
  }
  // S in [q, 2^253) is allowed; the Ed25519 check below only takes S < q,
  // and S mod q gives the same S·B.
  uint8_t wide[64] = {};
  std::memcpy(wide, sig + 32, 32);
  crypto_core_ed25519_scalar_reduce(sig + 32, wide);

  // R == encode(S·B - h·A) with h = SHA-512(R || A || M). libsodium also
  // refuses small-order A and R, which no honest signer produces.
  return crypto_sign_ed25519_verify_detached(sig, message.data(), message.size(),
                                             edwards_public) == 0;
}

}  // namespace velmo::crypto
