// HMAC-SHA256 with a reusable keyed state, and one-shot HMAC-SHA256/512.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/secure_bytes.h"
#include "crypto/sha2.h"

namespace velmo::crypto {

constexpr size_t kHmacSha256Bytes = 32;
constexpr size_t kHmacSha512Bytes = 64;

// HmacSha256Key is a key with its inner and outer hash states absorbed once,
// so each MAC under it costs only the blocks of the data plus one. Copyable;
// wiped when destroyed.
class HmacSha256Key {
 public:
  explicit HmacSha256Key(ByteView key);

  // Mac returns HMAC-SHA256(key, data).
  SecretArray<kHmacSha256Bytes> Mac(ByteView data) const;
  void Mac(ByteView data, std::span<uint8_t, kHmacSha256Bytes> out) const;

 private:
  friend class HmacSha256;
  Sha256Hasher inner_;
  Sha256Hasher outer_;
};

// HmacSha256 computes one MAC over data given in pieces.
class HmacSha256 {
 public:
  explicit HmacSha256(const HmacSha256Key& key);
  void Update(ByteView data) { inner_.Update(data); }
  // Finish writes the MAC; the object must not be used afterwards.
  void Finish(std::span<uint8_t, kHmacSha256Bytes> out);
  SecretArray<kHmacSha256Bytes> Finish();

 private:
  Sha256Hasher inner_;
  Sha256Hasher outer_;
};

// One-shot forms for a key used once.
SecretArray<kHmacSha256Bytes> HmacSha256Mac(ByteView key, ByteView data);
SecretArray<kHmacSha512Bytes> HmacSha512Mac(ByteView key, ByteView data);

}  // namespace velmo::crypto
