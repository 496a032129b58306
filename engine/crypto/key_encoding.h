// The byte encodings of keys inside records and messages, and their read
// errors with the texts peers and the Dart side see.
//   X25519 public key     0x05 || 32 bytes   (bytes after the 33rd ignored)
//   X25519 private key    32 bytes, clamped on reading
//   Kyber-1024 public key 0x08 || 1568 bytes (exactly)
//   Kyber-1024 secret key 0x08 || 3168 bytes (exactly)
//   Kyber-1024 ciphertext 0x08 || 1568 bytes (exactly)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "crypto/kyber1024.h"
#include "crypto/secure_bytes.h"
#include "crypto/x25519.h"

namespace velmo::crypto {

constexpr uint8_t kKyber1024KeyType = 0x08;
constexpr size_t kEncodedKyberPublicKeyBytes = 1 + kyber1024::kPublicKeyBytes;
constexpr size_t kEncodedKyberSecretKeyBytes = 1 + kyber1024::kSecretKeyBytes;
constexpr size_t kEncodedKyberCiphertextBytes = 1 + kyber1024::kCiphertextBytes;

// The read failures; each value is the number of the protocol error that
// carries the text.
enum class KeyErrorCode {
  kNoKeyTypeIdentifier = 9,       // "no key type identifier"
  kBadKeyType = 10,               // "bad key type <0x07>"
  kBadKeyLength = 11,             // "bad key length <12> for key with type <Djb>"
  kBadKemKeyType = 30,            // "bad KEM key type <0x05>"
  kBadKemKeyLength = 32,          // "bad KEM key length <1570> for key with type <Kyber1024>"
  kBadKemCiphertextLength = 33,   // "bad KEM ciphertext length <9> for key with type <Kyber1024>"
};

struct KeyError {
  KeyErrorCode code;
  std::string message;  // the rendered text
};

// KeyResult holds a key or the reason it could not be read.
template <class T>
class KeyResult {
 public:
  KeyResult(T value) : v_(std::move(value)) {}
  KeyResult(KeyError error) : v_(std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const KeyError& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, KeyError> v_;
};

// Readers. Lengths in the texts are those of the whole string given.
KeyResult<PublicKey> ReadPublicKey(ByteView encoded);
KeyResult<PrivateKey> ReadPrivateKey(ByteView bytes);
KeyResult<kyber1024::PublicKey> ReadKyberPublicKey(ByteView encoded);
KeyResult<kyber1024::SecretKey> ReadKyberSecretKey(ByteView encoded);
KeyResult<kyber1024::Ciphertext> ReadKyberCiphertext(ByteView encoded);

// Writers: the type byte, then the key. (X25519: PublicKey::Encode; the
// private key is stored as PrivateKey::bytes.)
Bytes EncodeKyberPublicKey(const kyber1024::PublicKey& key);
SecretBytes EncodeKyberSecretKey(const kyber1024::SecretKey& key);
Bytes EncodeKyberCiphertext(const kyber1024::Ciphertext& ciphertext);

}  // namespace velmo::crypto
