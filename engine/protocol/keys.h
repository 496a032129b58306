// Key encodings inside records and messages, and reading them with the
// failure texts peers and callers expect.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/secure_bytes.h"
#include "protocol/error.h"
#include "protocol/key_bytes.h"

namespace velmo::proto {

inline constexpr uint8_t kDjbKeyType = 0x05;    // X25519
inline constexpr uint8_t kKyberKeyType = 0x08;  // Kyber-1024

inline constexpr size_t kX25519KeyBytes = 32;
inline constexpr size_t kPublicKeyBytes = 1 + kX25519KeyBytes;  // encoded
inline constexpr size_t kKyberPublicKeyBytes = 1568;
inline constexpr size_t kKyberSecretKeyBytes = 3168;
inline constexpr size_t kKyberCiphertextBytes = 1568;
inline constexpr size_t kSignatureBytes = 64;

// PublicKey is an X25519 public key (the Montgomery u-coordinate). It is
// always handed to peers and records in its 33-byte encoding.
struct PublicKey {
  std::array<uint8_t, kX25519KeyBytes> u{};

  std::array<uint8_t, kPublicKeyBytes> Serialize() const;
  // Equality over the 32 key bytes, in constant time.
  friend bool operator==(const PublicKey& a, const PublicKey& b) {
    return crypto::ct_equal(a.u.data(), b.u.data(), a.u.size());
  }
};

// PrivateKey is a clamped X25519 scalar.
using PrivateKey = crypto::SecretArray<kX25519KeyBytes>;

struct KeyPair {
  PublicKey public_key;
  PrivateKey private_key;
};

// Clamp clears the three low bits of the first byte, clears bit 7 and sets
// bit 6 of the last byte, as every X25519 private key is used.
void Clamp(uint8_t scalar[kX25519KeyBytes]);

// DecodePublicKey reads the 33-byte encoding; bytes after the 33rd are
// ignored. "no key type identifier", "bad key type <0x..>",
// "bad key length <n> for key with type <Djb>".
Result<PublicKey> DecodePublicKey(ByteView in);

// DecodePrivateKey reads a 32-byte scalar and clamps it; any other length is
// "bad key length <n> for key with type <Djb>".
Result<PrivateKey> DecodePrivateKey(ByteView in);

// Kyber-1024 keys as stored: the type byte 0x08 and the key.
struct KyberPublicKey {
  Bytes key;  // 1568 bytes
  Bytes Serialize() const;
};
struct KyberSecretKey {
  SecretBytes key;  // 3168 bytes
};

// "no key type identifier", "bad KEM key type <0x..>",
// "bad KEM key length <n> for key with type <Kyber1024>" (n the whole length).
Result<KyberPublicKey> DecodeKyberPublicKey(ByteView in);
Result<KyberSecretKey> DecodeKyberSecretKey(ByteView in);

// The local identity: its public key and (clamped) private key.
struct IdentityKeyPair {
  PublicKey public_key;
  PrivateKey private_key;
};

// ReadIdentityKeyPair reads an identity key pair record and both its keys:
// "protobuf encoding was invalid", or a key read failure (an empty record
// gives "no key type identifier").
Result<IdentityKeyPair> ReadIdentityKeyPair(ByteView in);

// SerializeIdentityKeyPair writes the record for a key pair.
SecretBytes SerializeIdentityKeyPair(const IdentityKeyPair& pair);

}  // namespace velmo::proto
