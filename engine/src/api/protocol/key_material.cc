#include "api/protocol/key_material.h"

#include <algorithm>
#include <string>

#include "crypto/key_encoding.h"
#include "crypto/kyber1024.h"
#include "crypto/x25519.h"
#include "crypto/xeddsa.h"
#include "api/protocol/store_frame.h"
#include "protocol/keys.h"
#include "protocol/records.h"

namespace velmo::api::keys {
namespace {

constexpr uint32_t kMaxRegistrationId = 16380;
// The count is the caller's to choose; storage grows with the keys actually
// made rather than being claimed up front for a count nobody could wait for.
constexpr uint32_t kReserveAtMost = 1024;

// CheckIds reports `overflow` when ids start .. start + count - 1 do not all
// fit 32 bits. Checking before generating anything returns exactly what
// stopping at the first wrapped id would: the error and no keys.
std::optional<EngineError> CheckIds(uint32_t start, uint32_t count,
                                    const char* overflow) {
  if (count != 0 && count - 1 > UINT32_MAX - start) {
    return EngineError{ErrorKind::InvalidArgument, overflow};
  }
  return std::nullopt;
}

Bytes ToBytes(crypto::ByteView v) { return Bytes(v.begin(), v.end()); }

}  // namespace

GeneratedIdentityKeyPair GenerateIdentityKeyPair(crypto::Rng& rng) {
  crypto::KeyPair pair = crypto::KeyPair::Generate(rng);
  proto::IdentityKeyPair identity{pair.public_key, pair.private_key};
  return GeneratedIdentityKeyPair{
      .key_pair = proto::SerializeIdentityKeyPair(identity),
      .public_key = ToBytes(pair.public_key.Encode()),
  };
}

Outcome<std::vector<GeneratedPreKey>> GeneratePreKeys(uint32_t start,
                                                      uint32_t count,
                                                      crypto::Rng& rng) {
  if (auto overflow = CheckIds(start, count, "prekey id overflow")) {
    return *overflow;
  }
  std::vector<GeneratedPreKey> out;
  out.reserve(std::min<uint32_t>(count, kReserveAtMost));
  for (uint32_t i = 0; i < count; i++) {
    crypto::KeyPair pair = crypto::KeyPair::Generate(rng);
    proto::PreKeyRecordStructure record;
    record.id = start + i;
    record.public_key.assign(pair.public_key.Encode());
    record.private_key.assign(pair.private_key.bytes());
    out.push_back(GeneratedPreKey{
        .id = record.id,
        .record = proto::Encode(record),
        .public_key = ToBytes(record.public_key),
        .signature = {},
    });
  }
  return out;
}

Outcome<GeneratedPreKey> GenerateSignedPreKey(crypto::ByteView identity_key_pair,
                                              uint32_t id, uint64_t now_ms,
                                              crypto::Rng& rng) {
  proto::Result<proto::IdentityKeyPair> identity =
      proto::ReadIdentityKeyPair(identity_key_pair);
  if (!identity.ok()) return ToEngineError(identity.error());

  crypto::KeyPair pair = crypto::KeyPair::Generate(rng);
  auto encoded = pair.public_key.Encode();
  crypto::Signature signature =
      crypto::XEdDsaSign(identity->private_key, encoded, rng);
  proto::SignedPreKeyRecordStructure record;
  record.id = id;
  record.public_key.assign(encoded);
  record.private_key.assign(pair.private_key.bytes());
  record.signature.assign(signature.begin(), signature.end());
  record.timestamp = now_ms;
  return GeneratedPreKey{
      .id = id,
      .record = proto::Encode(record),
      .public_key = ToBytes(encoded),
      .signature = record.signature,
  };
}

Outcome<std::vector<GeneratedPreKey>> GenerateKyberPreKeys(
    crypto::ByteView identity_key_pair, uint32_t start, uint32_t count,
    uint64_t now_ms, crypto::Rng& rng) {
  proto::Result<proto::IdentityKeyPair> identity =
      proto::ReadIdentityKeyPair(identity_key_pair);
  if (!identity.ok()) return ToEngineError(identity.error());
  if (auto overflow = CheckIds(start, count, "kyber prekey id overflow")) {
    return *overflow;
  }
  // One signer for the whole batch: the identity key's Edwards point is
  // computed once.
  crypto::XEdDsaSigner signer(identity->private_key);
  std::vector<GeneratedPreKey> out;
  out.reserve(std::min<uint32_t>(count, kReserveAtMost));
  for (uint32_t i = 0; i < count; i++) {
    crypto::kyber1024::KeyPair pair = crypto::kyber1024::GenerateKeyPair(rng);
    Bytes public_key = crypto::EncodeKyberPublicKey(pair.public_key);
    crypto::Signature signature = signer.Sign(public_key, rng);
    proto::SignedPreKeyRecordStructure record;
    record.id = start + i;
    record.public_key.assign(public_key);
    record.private_key.assign(crypto::EncodeKyberSecretKey(pair.secret_key));
    record.signature.assign(signature.begin(), signature.end());
    record.timestamp = now_ms;
    out.push_back(GeneratedPreKey{
        .id = record.id,
        .record = proto::Encode(record),
        .public_key = std::move(public_key),
        .signature = record.signature,
    });
  }
  return out;
}

uint32_t GenerateRegistrationId(crypto::Rng& rng) {
  return crypto::RandomBelow(rng, kMaxRegistrationId) + 1;
}

}  // namespace velmo::api::keys
