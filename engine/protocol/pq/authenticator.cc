#include "protocol/pq/authenticator.h"

#include <string_view>

#include "crypto/hkdf.h"
#include "crypto/hmac.h"

namespace velmo::pq {

namespace {

constexpr std::string_view kUpdateLabel =
    "Signal_PQCKA_V1_MLKEM768:Authenticator Update";
constexpr std::string_view kHeaderLabel = "Signal_PQCKA_V1_MLKEM768:ekheader";
constexpr std::string_view kCiphertextLabel =
    "Signal_PQCKA_V1_MLKEM768:ciphertext";
constexpr std::string_view kEpochSecretLabel =
    "Signal_PQCKA_V1_MLKEM768:SCKA Key";

constexpr uint8_t kZeroSalt[32] = {};

// Label || BE64(epoch), the info or MAC prefix shared by every use here.
Bytes Labelled(std::string_view label, uint64_t epoch) {
  Bytes out(label.begin(), label.end());
  for (int shift = 56; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(epoch >> shift));
  }
  return out;
}

Mac MacOver(const SecretArray<32>& key, std::string_view label, uint64_t epoch,
            ByteView data) {
  crypto::HmacSha256Key k(key);
  crypto::HmacSha256 h(k);
  h.Update(Labelled(label, epoch));
  h.Update(data);
  Mac out;
  h.Finish(out);
  return out;
}

}  // namespace

Authenticator Authenticator::Create(ByteView key, uint64_t epoch) {
  Authenticator a;
  a.Update(epoch, key);
  return a;
}

void Authenticator::Update(uint64_t epoch, ByteView key) {
  SecretBytes ikm(root_key.bytes, root_key.bytes + 32);
  ikm.insert(ikm.end(), key.begin(), key.end());
  SecretArray<64> okm = crypto::HkdfSha256<64>(kZeroSalt, ikm,
                                               Labelled(kUpdateLabel, epoch));
  std::copy(okm.bytes, okm.bytes + 32, root_key.bytes);
  std::copy(okm.bytes + 32, okm.bytes + 64, mac_key.bytes);
}

Mac Authenticator::HeaderMac(uint64_t epoch, ByteView header) const {
  return MacOver(mac_key, kHeaderLabel, epoch, header);
}

Mac Authenticator::CiphertextMac(uint64_t epoch, ByteView ciphertext) const {
  return MacOver(mac_key, kCiphertextLabel, epoch, ciphertext);
}

std::optional<Authenticator> Authenticator::FromRecord(
    const AuthenticatorRecord& r) {
  if (r.root_key.size() != 32 || r.mac_key.size() != 32) {
    return std::nullopt;
  }
  Authenticator a;
  std::copy(r.root_key.begin(), r.root_key.end(), a.root_key.bytes);
  std::copy(r.mac_key.begin(), r.mac_key.end(), a.mac_key.bytes);
  return a;
}

AuthenticatorRecord Authenticator::ToRecord() const {
  return {SecretBytes(root_key.bytes, root_key.bytes + 32),
          SecretBytes(mac_key.bytes, mac_key.bytes + 32)};
}

EpochSecret DeriveEpochSecret(ByteView shared_secret, uint64_t epoch) {
  return crypto::HkdfSha256<kEpochSecretBytes>(
      kZeroSalt, shared_secret, Labelled(kEpochSecretLabel, epoch));
}

bool MacsEqual(ByteView got, const Mac& want) {
  return crypto::ct_equal(got, ByteView(want));
}

}  // namespace velmo::pq
