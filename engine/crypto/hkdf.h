// HKDF-SHA256 (RFC 5869).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/secure_bytes.h"

namespace velmo::crypto {

// The longest output HKDF-SHA256 can give: 255 blocks of 32 bytes.
constexpr size_t kHkdfSha256MaxBytes = 255 * 32;

// HkdfSha256Extract returns the pseudorandom key HMAC(salt, ikm). An empty
// salt is the same as 32 zero bytes.
SecretArray<32> HkdfSha256Extract(ByteView salt, ByteView ikm);

// HkdfSha256Expand fills `out` from the pseudorandom key `prk` and `info`.
// Returns false, writing nothing, when `out` is longer than
// kHkdfSha256MaxBytes.
[[nodiscard]] bool HkdfSha256Expand(std::span<uint8_t> out, ByteView prk,
                                    ByteView info);

// HkdfSha256 is extract then expand. Same failure as HkdfSha256Expand.
[[nodiscard]] bool HkdfSha256(std::span<uint8_t> out, ByteView salt,
                              ByteView ikm, ByteView info);

// The fixed-length form used throughout the protocol; cannot fail.
template <size_t N>
SecretArray<N> HkdfSha256(ByteView salt, ByteView ikm, ByteView info) {
  static_assert(N > 0 && N <= kHkdfSha256MaxBytes);
  SecretArray<N> out;
  (void)HkdfSha256(std::span<uint8_t>(out.bytes, N), salt, ikm, info);
  return out;
}

}  // namespace velmo::crypto
