#include "protocol/keys.h"

#include "protocol/records.h"

namespace velmo::proto {
namespace {

// The primitive layer numbers its key errors as the session layer does.
template <class T>
Result<T> Convert(crypto::KeyResult<T> read) {
  if (!read.ok()) {
    return Error{static_cast<ErrorCode>(read.error().code),
                 read.error().message};
  }
  return std::move(read).value();
}

}  // namespace

Result<PublicKey> DecodePublicKey(ByteView in) {
  return Convert(crypto::ReadPublicKey(in));
}

Result<PrivateKey> DecodePrivateKey(ByteView in) {
  return Convert(crypto::ReadPrivateKey(in));
}

Result<crypto::kyber1024::PublicKey> DecodeKyberPublicKey(ByteView in) {
  return Convert(crypto::ReadKyberPublicKey(in));
}

Result<crypto::kyber1024::SecretKey> DecodeKyberSecretKey(ByteView in) {
  return Convert(crypto::ReadKyberSecretKey(in));
}

Result<crypto::kyber1024::Ciphertext> DecodeKyberCiphertext(ByteView in) {
  return Convert(crypto::ReadKyberCiphertext(in));
}

Result<IdentityKeyPair> ReadIdentityKeyPair(ByteView in) {
  IdentityKeyPairStructure record;
  if (!Decode(in, &record)) {
    return errors::InvalidProtobuf();
  }
  Result<PublicKey> public_key = DecodePublicKey(record.public_key);
  if (!public_key.ok()) return public_key.take_error();
  Result<PrivateKey> private_key = DecodePrivateKey(record.private_key);
  if (!private_key.ok()) return private_key.take_error();
  return IdentityKeyPair{std::move(*public_key), std::move(*private_key)};
}

SecretBytes SerializeIdentityKeyPair(const IdentityKeyPair& pair) {
  IdentityKeyPairStructure record;
  record.public_key.assign(pair.public_key.Encode());
  record.private_key.assign(pair.private_key.bytes());
  return Encode(record);
}

}  // namespace velmo::proto
