#include "crypto/key_encoding.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace velmo::crypto {
namespace {

constexpr const char kDjbName[] = "Djb";
constexpr const char kKyberName[] = "Kyber1024";

std::string HexByte(uint8_t b) {
  char buf[8];
  std::snprintf(buf, sizeof(buf), "0x%02x", b);
  return buf;
}

KeyError NoType() {
  return {KeyErrorCode::kNoKeyTypeIdentifier, "no key type identifier"};
}

KeyError BadLength(KeyErrorCode code, const char* what, size_t length,
                   const char* type) {
  return {code, std::string(what) + " length <" + std::to_string(length) +
                    "> for key with type <" + type + ">"};
}

// Reads 0x08 || exactly N bytes into `out`.
template <size_t N, class Out>
std::optional<KeyError> ReadKem(ByteView encoded, KeyErrorCode length_code,
                                const char* what, Out& out) {
  if (encoded.empty()) {
    return NoType();
  }
  if (encoded[0] != kKyber1024KeyType) {
    return KeyError{KeyErrorCode::kBadKemKeyType,
                    "bad KEM key type <" + HexByte(encoded[0]) + ">"};
  }
  if (encoded.size() != 1 + N) {
    return BadLength(length_code, what, encoded.size(), kKyberName);
  }
  std::memcpy(out.data(), encoded.data() + 1, N);
  return std::nullopt;
}

}  // namespace

KeyResult<PublicKey> ReadPublicKey(ByteView encoded) {
  if (encoded.empty()) {
    return NoType();
  }
  if (encoded[0] != kDjbKeyType) {
    return KeyError{KeyErrorCode::kBadKeyType,
                    "bad key type <" + HexByte(encoded[0]) + ">"};
  }
  if (encoded.size() < kEncodedPublicKeyBytes) {
    return BadLength(KeyErrorCode::kBadKeyLength, "bad key", encoded.size(),
                     kDjbName);
  }
  return PublicKey(encoded.subspan<1, kX25519Bytes>());
}

KeyResult<PrivateKey> ReadPrivateKey(ByteView bytes) {
  if (bytes.size() != kX25519Bytes) {
    return BadLength(KeyErrorCode::kBadKeyLength, "bad key", bytes.size(),
                     kDjbName);
  }
  return PrivateKey(bytes.first<kX25519Bytes>());
}

KeyResult<kyber1024::PublicKey> ReadKyberPublicKey(ByteView encoded) {
  kyber1024::PublicKey key;
  if (auto e = ReadKem<kyber1024::kPublicKeyBytes>(
          encoded, KeyErrorCode::kBadKemKeyLength, "bad KEM key", key)) {
    return *std::move(e);
  }
  return key;
}

KeyResult<kyber1024::SecretKey> ReadKyberSecretKey(ByteView encoded) {
  kyber1024::SecretKey key;
  if (auto e = ReadKem<kyber1024::kSecretKeyBytes>(
          encoded, KeyErrorCode::kBadKemKeyLength, "bad KEM key", key)) {
    return *std::move(e);
  }
  return key;
}

KeyResult<kyber1024::Ciphertext> ReadKyberCiphertext(ByteView encoded) {
  kyber1024::Ciphertext ct;
  if (auto e = ReadKem<kyber1024::kCiphertextBytes>(
          encoded, KeyErrorCode::kBadKemCiphertextLength, "bad KEM ciphertext",
          ct)) {
    return *std::move(e);
  }
  return ct;
}

Bytes EncodeKyberPublicKey(const kyber1024::PublicKey& key) {
  Bytes out(kEncodedKyberPublicKeyBytes);
  out[0] = kKyber1024KeyType;
  std::memcpy(out.data() + 1, key.data(), key.size());
  return out;
}

SecretBytes EncodeKyberSecretKey(const kyber1024::SecretKey& key) {
  SecretBytes out(kEncodedKyberSecretKeyBytes);
  out[0] = kKyber1024KeyType;
  std::memcpy(out.data() + 1, key.data(), key.size());
  return out;
}

Bytes EncodeKyberCiphertext(const kyber1024::Ciphertext& ciphertext) {
  Bytes out(kEncodedKyberCiphertextBytes);
  out[0] = kKyber1024KeyType;
  std::memcpy(out.data() + 1, ciphertext.data(), ciphertext.size());
  return out;
}

}  // namespace velmo::crypto
