#include "crypto/hkdf.h"

#include <cstring>

#include "crypto/hmac.h"

namespace velmo::crypto {

SecretArray<32> HkdfSha256Extract(ByteView salt, ByteView ikm) {
  return HmacSha256Key(salt).Mac(ikm);
}

bool HkdfSha256Expand(std::span<uint8_t> out, ByteView prk, ByteView info) {
  if (out.size() > kHkdfSha256MaxBytes) {
    return false;
  }
  const HmacSha256Key key(prk);
  SecretArray<kHmacSha256Bytes> block;
  for (size_t done = 0, i = 1; done < out.size(); ++i) {
    // T(i) = HMAC(prk, T(i-1) || info || i), with T(0) empty.
    HmacSha256 h(key);
    if (i > 1) {
      h.Update(block);
    }
    h.Update(info);
    const uint8_t counter = static_cast<uint8_t>(i);
    h.Update(ByteView(&counter, 1));
    h.Finish(std::span<uint8_t, kHmacSha256Bytes>(block.bytes));
    size_t take = std::min(out.size() - done, block.size());
    std::memcpy(out.data() + done, block.data(), take);
    done += take;
  }
  return true;
}

bool HkdfSha256(std::span<uint8_t> out, ByteView salt, ByteView ikm,
                ByteView info) {
  if (out.size() > kHkdfSha256MaxBytes) {
    return false;
  }
  SecretArray<32> prk = HkdfSha256Extract(salt, ikm);
  return HkdfSha256Expand(out, prk, info);
}

}  // namespace velmo::crypto
