// AES-256 in CBC mode, with PKCS#7 padding by default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/secure_bytes.h"

namespace velmo::crypto {

constexpr size_t kAes256KeyBytes = 32;
constexpr size_t kAesBlockBytes = 16;

enum class CbcPadding {
  kPkcs7,  // what the protocol uses
  kNone,   // whole blocks only; for testing the block cipher and chaining
};

// Aes256CbcEncrypt encrypts `plaintext` under a 32-byte key and a 16-byte IV.
// With PKCS#7 the result is 1 to 16 bytes longer than the input. Throws
// std::invalid_argument for other key or IV sizes, or for input that is not
// whole blocks without padding.
Bytes Aes256CbcEncrypt(ByteView key, ByteView iv, ByteView plaintext,
                       CbcPadding padding = CbcPadding::kPkcs7);

// Aes256CbcDecrypt returns the plaintext, or nothing when the ciphertext is
// empty, not whole blocks, or (PKCS#7) ends in bad padding. Throws
// std::invalid_argument for wrong key or IV sizes.
std::optional<Bytes> Aes256CbcDecrypt(ByteView key, ByteView iv,
                                      ByteView ciphertext,
                                      CbcPadding padding = CbcPadding::kPkcs7);

// The same into a caller's buffer, which must hold the input's length plus
// kAesBlockBytes (throws std::invalid_argument otherwise); they return the
// number of bytes written, and save the allocation of the forms above.
size_t Aes256CbcEncryptInto(std::span<uint8_t> out, ByteView key, ByteView iv,
                            ByteView plaintext,
                            CbcPadding padding = CbcPadding::kPkcs7);
std::optional<size_t> Aes256CbcDecryptInto(std::span<uint8_t> out, ByteView key,
                                           ByteView iv, ByteView ciphertext,
                                           CbcPadding padding = CbcPadding::kPkcs7);

}  // namespace velmo::crypto
