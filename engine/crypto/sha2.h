// SHA-256 and SHA-512, one-shot and incremental.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/secure_bytes.h"

namespace velmo::crypto {

constexpr size_t kSha256Bytes = 32;
constexpr size_t kSha512Bytes = 64;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;
using Sha512Digest = std::array<uint8_t, kSha512Bytes>;

Sha256Digest Sha256(ByteView data);
Sha512Digest Sha512(ByteView data);

// Sha256Hasher hashes data given in pieces. Copying a hasher forks the
// computation (used to reuse a common prefix). Its state is wiped when it is
// destroyed, since it may have absorbed secrets.
class Sha256Hasher {
 public:
  Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = default;
  Sha256Hasher& operator=(const Sha256Hasher&) = default;
  ~Sha256Hasher();
  void Update(ByteView data);
  // Final writes the digest; the hasher must not be used afterwards.
  void Final(std::span<uint8_t, kSha256Bytes> out);

 private:
  // Holds the OpenSSL context; the size is checked where it is used.
  alignas(8) unsigned char state_[112];
};

class Sha512Hasher {
 public:
  Sha512Hasher();
  Sha512Hasher(const Sha512Hasher&) = default;
  Sha512Hasher& operator=(const Sha512Hasher&) = default;
  ~Sha512Hasher();
  void Update(ByteView data);
  void Final(std::span<uint8_t, kSha512Bytes> out);

 private:
  alignas(8) unsigned char state_[216];
};

}  // namespace velmo::crypto
