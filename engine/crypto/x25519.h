// X25519 key pairs and key agreement (RFC 7748).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/random.h"
#include "crypto/secure_bytes.h"

namespace velmo::crypto {

constexpr size_t kX25519Bytes = 32;
// The type byte of an encoded X25519 public key, and the encoded length.
constexpr uint8_t kDjbKeyType = 0x05;
constexpr size_t kEncodedPublicKeyBytes = 1 + kX25519Bytes;

// Clamp makes 32 bytes a Curve25519 scalar: byte 0 AND 0xF8; byte 31 AND
// 0x3F, then OR 0x40.
void Clamp(std::span<uint8_t, kX25519Bytes> scalar);

// PublicKey is an X25519 public key: the Montgomery u-coordinate as given
// (not reduced, bit 255 kept), so it re-encodes byte for byte.
class PublicKey {
 public:
  explicit PublicKey(std::span<const uint8_t, kX25519Bytes> u);

  std::span<const uint8_t, kX25519Bytes> bytes() const { return u_; }
  // Encode returns 0x05 followed by the 32 bytes.
  std::array<uint8_t, kEncodedPublicKeyBytes> Encode() const;
  // Equals compares in constant time (for keys that name secrets, such as
  // base keys).
  bool Equals(const PublicKey& other) const;
  friend bool operator==(const PublicKey&, const PublicKey&) = default;

 private:
  std::array<uint8_t, kX25519Bytes> u_;
};

// PrivateKey is a clamped X25519 scalar, wiped when destroyed.
class PrivateKey {
 public:
  // Clamps the given bytes.
  explicit PrivateKey(std::span<const uint8_t, kX25519Bytes> scalar);
  // Generate draws 32 bytes from `rng` and clamps them.
  static PrivateKey Generate(Rng& rng);

  // bytes returns the 32 clamped bytes, which is what records store.
  std::span<const uint8_t, kX25519Bytes> bytes() const { return k_.bytes; }
  PublicKey GetPublicKey() const;

  // Agree writes X25519(this, their) to `out`. Returns false when the result
  // is all zero, which happens exactly for the low-order public keys; `out`
  // then holds those zero bytes. Callers decide whether to refuse them.
  [[nodiscard]] bool Agree(const PublicKey& their,
                           std::span<uint8_t, kX25519Bytes> out) const;

 private:
  PrivateKey() = default;
  SecretArray<kX25519Bytes> k_;
};

// KeyPair holds a private key and its public key.
struct KeyPair {
  PublicKey public_key;
  PrivateKey private_key;

  explicit KeyPair(PrivateKey key)
      : public_key(key.GetPublicKey()), private_key(std::move(key)) {}
  // Generate draws the private key from `rng` (32 bytes).
  static KeyPair Generate(Rng& rng) { return KeyPair(PrivateKey::Generate(rng)); }
};

// X25519 is the raw function of RFC 7748: the scalar is clamped on use and
// bit 255 of u is ignored. Same result convention as PrivateKey::Agree.
[[nodiscard]] bool X25519(std::span<uint8_t, kX25519Bytes> out,
                          std::span<const uint8_t, kX25519Bytes> scalar,
                          std::span<const uint8_t, kX25519Bytes> u);

}  // namespace velmo::crypto
