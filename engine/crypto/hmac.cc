#include "crypto/hmac.h"

#include <cstring>

namespace velmo::crypto {
namespace {

constexpr uint8_t kInnerPad = 0x36;
constexpr uint8_t kOuterPad = 0x5c;

// Absorbs the padded key blocks into `inner` and `outer` (RFC 2104): a key
// longer than the block is hashed first, a shorter one is zero-padded.
template <class Hasher, size_t kBlockBytes, size_t kDigestBytes>
void KeyHashers(ByteView key, Hasher& inner, Hasher& outer) {
  SecretArray<kBlockBytes> block;
  if (key.size() > kBlockBytes) {
    Hasher h;
    h.Update(key);
    h.Final(std::span<uint8_t, kDigestBytes>(block.data(), kDigestBytes));
  } else if (!key.empty()) {
    std::memcpy(block.data(), key.data(), key.size());
  }
  for (auto& b : block.bytes) b ^= kInnerPad;
  inner.Update(block);
  for (auto& b : block.bytes) b ^= kInnerPad ^ kOuterPad;
  outer.Update(block);
}

}  // namespace

HmacSha256Key::HmacSha256Key(ByteView key) {
  KeyHashers<Sha256Hasher, 64, kSha256Bytes>(key, inner_, outer_);
}

void HmacSha256Key::Mac(ByteView data,
                        std::span<uint8_t, kHmacSha256Bytes> out) const {
  HmacSha256 h(*this);
  h.Update(data);
  h.Finish(out);
}

SecretArray<kHmacSha256Bytes> HmacSha256Key::Mac(ByteView data) const {
  SecretArray<kHmacSha256Bytes> out;
  Mac(data, std::span<uint8_t, kHmacSha256Bytes>(out.bytes));
  return out;
}

HmacSha256::HmacSha256(const HmacSha256Key& key)
    : inner_(key.inner_), outer_(key.outer_) {}

void HmacSha256::Finish(std::span<uint8_t, kHmacSha256Bytes> out) {
  SecretArray<kSha256Bytes> inner_digest;
  inner_.Final(std::span<uint8_t, kSha256Bytes>(inner_digest.bytes));
  outer_.Update(inner_digest);
  outer_.Final(out);
}

SecretArray<kHmacSha256Bytes> HmacSha256::Finish() {
  SecretArray<kHmacSha256Bytes> out;
  Finish(std::span<uint8_t, kHmacSha256Bytes>(out.bytes));
  return out;
}

SecretArray<kHmacSha256Bytes> HmacSha256Mac(ByteView key, ByteView data) {
  return HmacSha256Key(key).Mac(data);
}

SecretArray<kHmacSha512Bytes> HmacSha512Mac(ByteView key, ByteView data) {
  Sha512Hasher inner, outer;
  KeyHashers<Sha512Hasher, 128, kSha512Bytes>(key, inner, outer);
  inner.Update(data);
  SecretArray<kSha512Bytes> inner_digest;
  inner.Final(std::span<uint8_t, kSha512Bytes>(inner_digest.bytes));
  outer.Update(inner_digest);
  SecretArray<kHmacSha512Bytes> out;
  outer.Final(std::span<uint8_t, kSha512Bytes>(out.bytes));
  return out;
}

}  // namespace velmo::crypto
