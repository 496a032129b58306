// Keys as the session layer reads them from records and messages: the
// primitive layer's key types and encodings, with read failures turned into
// session-layer errors, and the identity key pair record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/key_encoding.h"
#include "crypto/kyber1024.h"
#include "crypto/secure_bytes.h"
#include "crypto/x25519.h"
#include "crypto/xeddsa.h"
#include "protocol/error.h"

namespace velmo::proto {

using crypto::ByteView;
using crypto::Bytes;
using crypto::SecretBytes;
using crypto::KeyPair;
using crypto::PrivateKey;
using crypto::PublicKey;

inline constexpr size_t kPublicKeyBytes = crypto::kEncodedPublicKeyBytes;  // 33
inline constexpr size_t kSignatureBytes = crypto::kSignatureBytes;         // 64

// DecodePublicKey reads the 33-byte encoding; bytes after the 33rd are
// ignored. "no key type identifier", "bad key type <0x..>",
// "bad key length <n> for key with type <Djb>".
Result<PublicKey> DecodePublicKey(ByteView in);

// DecodePrivateKey reads a 32-byte scalar and clamps it; any other length is
// "bad key length <n> for key with type <Djb>".
Result<PrivateKey> DecodePrivateKey(ByteView in);

// Kyber-1024 strings as stored (type byte 0x08 first): "no key type
// identifier", "bad KEM key type <0x..>", "bad KEM key length <n> for key
// with type <Kyber1024>", "bad KEM ciphertext length <n> for key with type
// <Kyber1024>" (n the whole length).
Result<crypto::kyber1024::PublicKey> DecodeKyberPublicKey(ByteView in);
Result<crypto::kyber1024::SecretKey> DecodeKyberSecretKey(ByteView in);
Result<crypto::kyber1024::Ciphertext> DecodeKyberCiphertext(ByteView in);

// The local identity: its public key as stored and its (clamped) private key.
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
