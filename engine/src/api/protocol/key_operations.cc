// Operations 4-11, 15 and 17: key material and the identity key.
#include "api/protocol/key_material.h"
#include "api/protocol/operations.h"
#include "api/protocol/store_frame.h"
#include "crypto/clock.h"
#include "crypto/random.h"
#include "crypto/xeddsa.h"
#include "protocol/keys.h"

namespace velmo::api {
namespace {

Bytes ToBytes(crypto::ByteView v) { return Bytes(v.begin(), v.end()); }

Bytes Sign(const crypto::PrivateKey& key, crypto::ByteView message) {
  crypto::Signature signature =
      crypto::XEdDsaSign(key, message, crypto::ThreadRng());
  return Bytes(signature.begin(), signature.end());
}

}  // namespace

GeneratedIdentityKeyPair GenerateIdentityKeyPair() {
  return keys::GenerateIdentityKeyPair(crypto::ThreadRng());
}

Outcome<std::vector<GeneratedPreKey>> GenerateKyberPreKeys(
    SecretBytes identity_key_pair, uint32_t start, uint32_t count) {
  return keys::GenerateKyberPreKeys(identity_key_pair, start, count,
                                    crypto::NowUnixMillis(),
                                    crypto::ThreadRng());
}

Outcome<std::vector<GeneratedPreKey>> GeneratePreKeys(uint32_t start,
                                                      uint32_t count) {
  return keys::GeneratePreKeys(start, count, crypto::ThreadRng());
}

uint32_t GenerateRegistrationId() {
  return keys::GenerateRegistrationId(crypto::ThreadRng());
}

Outcome<GeneratedPreKey> GenerateSignedPreKey(SecretBytes identity_key_pair,
                                              uint32_t id) {
  return keys::GenerateSignedPreKey(identity_key_pair, id,
                                    crypto::NowUnixMillis(),
                                    crypto::ThreadRng());
}

Outcome<Bytes> IdentityPublicKey(SecretBytes identity_key_pair) {
  proto::Result<proto::IdentityKeyPair> pair =
      proto::ReadIdentityKeyPair(identity_key_pair);
  if (!pair.ok()) return ToEngineError(pair.error());
  return ToBytes(pair->public_key.Encode());
}

Outcome<Bytes> IdentitySign(SecretBytes identity_key_pair, Bytes message) {
  proto::Result<proto::IdentityKeyPair> pair =
      proto::ReadIdentityKeyPair(identity_key_pair);
  if (!pair.ok()) return ToEngineError(pair.error());
  return Sign(pair->private_key, message);
}

Outcome<bool> IdentityVerify(Bytes public_key, Bytes message,
                             Bytes signature) {
  proto::Result<crypto::PublicKey> key = proto::DecodePublicKey(public_key);
  if (!key.ok()) return ToEngineError(key.error());
  return crypto::XEdDsaVerify(*key, message, signature);
}

Outcome<Bytes> PrivateKeySign(SecretBytes private_key, Bytes message) {
  proto::Result<crypto::PrivateKey> key = proto::DecodePrivateKey(private_key);
  if (!key.ok()) return ToEngineError(key.error());
  return Sign(*key, message);
}

Outcome<Bytes> PublicKeyFromPrivate(SecretBytes private_key) {
  proto::Result<crypto::PrivateKey> key = proto::DecodePrivateKey(private_key);
  if (!key.ok()) return ToEngineError(key.error());
  return ToBytes(key->GetPublicKey().Encode());
}

}  // namespace velmo::api
