// XEdDSA: Ed25519-style signatures made with X25519 keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/random.h"
#include "crypto/secure_bytes.h"
#include "crypto/x25519.h"

namespace velmo::crypto {

constexpr size_t kSignatureBytes = 64;
using Signature = std::array<uint8_t, kSignatureBytes>;

// XEdDsaSigner signs with one private key. It computes the key's Edwards
// public point once, so a signer kept for several signatures costs one
// fixed-base multiplication per signature instead of two.
class XEdDsaSigner {
 public:
  explicit XEdDsaSigner(const PrivateKey& key);

  // Sign returns R || S with the sign bit of the Edwards public key in the
  // top bit of the last byte. Draws 64 bytes from `rng`, so two signatures
  // of the same message differ.
  Signature Sign(ByteView message, Rng& rng) const;

 private:
  SecretArray<32> a_;          // the clamped private scalar, as stored
  SecretArray<32> a_reduced_;  // the same modulo the group order
  std::array<uint8_t, 32> edwards_public_;
};

// XEdDsaSign is XEdDsaSigner(key).Sign(message, rng).
Signature XEdDsaSign(const PrivateKey& key, ByteView message, Rng& rng);

// XEdDsaVerify tells whether `signature` is a valid signature of `message`
// by `key`. Any length but 64 bytes, a key without an Edwards point, bit 5
// or 6 of the last byte set, or a mismatch is false; it never throws.
bool XEdDsaVerify(const PublicKey& key, ByteView message, ByteView signature);

}  // namespace velmo::crypto
