#include "protocol/keys.h"

#include <cstring>

#include "protocol/records.h"

namespace velmo::proto {

std::array<uint8_t, kPublicKeyBytes> PublicKey::Serialize() const {
  std::array<uint8_t, kPublicKeyBytes> out;
  out[0] = kDjbKeyType;
  std::memcpy(out.data() + 1, u.data(), u.size());
  return out;
}

void Clamp(uint8_t scalar[kX25519KeyBytes]) {
  scalar[0] &= 0xF8;
  scalar[31] &= 0x3F;
  scalar[31] |= 0x40;
}

Result<PublicKey> DecodePublicKey(ByteView in) {
  if (in.empty()) {
    return errors::NoKeyTypeIdentifier();
  }
  if (in[0] != kDjbKeyType) {
    return errors::BadKeyType(in[0]);
  }
  if (in.size() < kPublicKeyBytes) {
    return errors::BadKeyLength(KeyType::kDjb, in.size());
  }
  PublicKey key;
  std::memcpy(key.u.data(), in.data() + 1, key.u.size());
  return key;
}

Result<PrivateKey> DecodePrivateKey(ByteView in) {
  if (in.size() != kX25519KeyBytes) {
    return errors::BadKeyLength(KeyType::kDjb, in.size());
  }
  PrivateKey key;
  std::memcpy(key.data(), in.data(), kX25519KeyBytes);
  Clamp(key.data());
  return key;
}

Bytes KyberPublicKey::Serialize() const {
  Bytes out;
  out.reserve(1 + key.size());
  out.push_back(kKyberKeyType);
  out.insert(out.end(), key.begin(), key.end());
  return out;
}

namespace {

// Checks the type byte and the whole length of a stored Kyber string.
Status CheckKyberEncoding(ByteView in, size_t key_bytes) {
  if (in.empty()) {
    return errors::NoKeyTypeIdentifier();
  }
  if (in[0] != kKyberKeyType) {
    return errors::BadKemKeyType(in[0]);
  }
  if (in.size() != 1 + key_bytes) {
    return errors::BadKemKeyLength(KeyType::kKyber1024, in.size());
  }
  return Status::Ok();
}

}  // namespace

Result<KyberPublicKey> DecodeKyberPublicKey(ByteView in) {
  Status s = CheckKyberEncoding(in, kKyberPublicKeyBytes);
  if (!s.ok()) return s.take_error();
  KyberPublicKey key;
  key.key.assign(in.begin() + 1, in.end());
  return key;
}

Result<KyberSecretKey> DecodeKyberSecretKey(ByteView in) {
  Status s = CheckKyberEncoding(in, kKyberSecretKeyBytes);
  if (!s.ok()) return s.take_error();
  KyberSecretKey key;
  key.key.assign(in.begin() + 1, in.end());
  return key;
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
  return IdentityKeyPair{*public_key, *private_key};
}

SecretBytes SerializeIdentityKeyPair(const IdentityKeyPair& pair) {
  IdentityKeyPairStructure record;
  auto encoded = pair.public_key.Serialize();
  record.public_key.assign(encoded);
  record.private_key.assign(pair.private_key);
  return Encode(record);
}

}  // namespace velmo::proto
