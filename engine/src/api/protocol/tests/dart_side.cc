#include "api/protocol/tests/dart_side.h"

#include <stdexcept>
#include <string>

namespace velmo::api::testing {
namespace {

template <class R>
R Expect(Reply<R> reply, const char* what) {
  if (reply.action != 0) {
    throw std::runtime_error(
        std::string(what) +
        " failed: " + (reply.action == 1 ? reply.error.message : reply.fault));
  }
  return std::move(reply.value);
}

constexpr uint32_t kSignedPreKeyId = 1;
constexpr int32_t kGenerateIdentityKeyPair = 4;
constexpr int32_t kGenerateKyberPreKeys = 5;
constexpr int32_t kGeneratePreKeys = 6;
constexpr int32_t kGenerateRegistrationId = 7;
constexpr int32_t kGenerateSignedPreKey = 8;
constexpr int32_t kIdentityPublicKey = 9;

}  // namespace

DartSide::DartSide(PeerAddress address,
                   std::optional<SecretBytes> identity_key_pair,
                   uint32_t num_pre_keys)
    : address_(std::move(address)) {
  if (identity_key_pair) {
    identity_key_pair_ = std::move(*identity_key_pair);
  } else {
    identity_key_pair_ =
        Expect(Call<GeneratedIdentityKeyPair>(kGenerateIdentityKeyPair),
               "generate_identity_key_pair")
            .key_pair;
  }
  identity_public_ = Expect(Call<Bytes>(kIdentityPublicKey, identity_key_pair_),
                            "identity_public_key");
  registration_id_ = Expect(Call<uint32_t>(kGenerateRegistrationId),
                            "generate_registration_id");

  GeneratedPreKey signed_pre_key =
      Expect(Call<GeneratedPreKey>(kGenerateSignedPreKey, identity_key_pair_,
                                   kSignedPreKeyId),
             "generate_signed_pre_key");
  signed_pre_key_id_ = signed_pre_key.id;
  signed_pre_keys[signed_pre_key.id] = signed_pre_key.record;
  published_signed_pre_key_ = {signed_pre_key.public_key,
                               signed_pre_key.signature};

  for (const GeneratedPreKey& k :
       Expect(Call<std::vector<GeneratedPreKey>>(kGeneratePreKeys, 1u,
                                                 num_pre_keys),
              "generate_pre_keys")) {
    pre_keys[k.id] = k.record;
    published_pre_keys_[k.id] = {k.public_key, k.signature};
  }
  for (const GeneratedPreKey& k :
       Expect(Call<std::vector<GeneratedPreKey>>(
                  kGenerateKyberPreKeys, identity_key_pair_, 1u, num_pre_keys),
              "generate_kyber_pre_keys")) {
    kyber_pre_keys[k.id] = k.record;
    published_kyber_pre_keys_[k.id] = {k.public_key, k.signature};
  }
}

PreKeyBundle DartSide::Bundle(bool with_one_time, bool with_kyber) const {
  PreKeyBundle b;
  b.registration_id = registration_id_;
  b.device_id = address_.device_id;
  if (with_one_time) {
    auto it = published_pre_keys_.begin();
    while (it != published_pre_keys_.end() && !pre_keys.contains(it->first)) {
      ++it;
    }
    if (it == published_pre_keys_.end()) {
      throw std::logic_error("no one-time pre-key left");
    }
    b.pre_key_id = it->first;
    b.pre_key_public = it->second.public_key;
  }
  b.signed_pre_key_id = signed_pre_key_id_;
  b.signed_pre_key_public = published_signed_pre_key_.public_key;
  b.signed_pre_key_signature = published_signed_pre_key_.signature;
  b.identity_key = identity_public_;
  if (with_kyber) {
    auto it = published_kyber_pre_keys_.begin();
    while (it != published_kyber_pre_keys_.end() &&
           !kyber_pre_keys.contains(it->first)) {
      ++it;
    }
    if (it == published_kyber_pre_keys_.end()) {
      throw std::logic_error("no Kyber pre-key left");
    }
    b.kyber_pre_key_id = it->first;
    b.kyber_pre_key_public = it->second.public_key;
    b.kyber_pre_key_signature = it->second.signature;
  }
  return b;
}

StoreSnapshot DartSide::Snapshot() const {
  StoreSnapshot s;
  s.identity_key_pair = identity_key_pair_;
  s.registration_id = registration_id_;
  for (const auto& [address, record] : sessions) {
    s.sessions.push_back({address, record});
  }
  for (const auto& [address, key] : identities) {
    s.identities.push_back({address, key});
  }
  for (const auto& [id, record] : pre_keys)
    s.pre_keys.push_back({id, record});
  for (const auto& [id, record] : signed_pre_keys) {
    s.signed_pre_keys.push_back({id, record});
  }
  for (const auto& [id, record] : kyber_pre_keys) {
    s.kyber_pre_keys.push_back({id, record});
  }
  return s;
}

void DartSide::Apply(const StoreChanges& changes) {
  for (const AddressedRecord& r : changes.sessions) {
    sessions[r.address] = r.data;
  }
  for (const AddressedRecord& r : changes.identities) {
    identities[r.address] = r.data;
  }
  for (const IdRecord& r : changes.pre_keys)
    pre_keys[r.id] = r.data;
  for (uint32_t id : changes.removed_pre_keys)
    pre_keys.erase(id);
  for (const IdRecord& r : changes.signed_pre_keys) {
    signed_pre_keys[r.id] = r.data;
  }
  for (const IdRecord& r : changes.kyber_pre_keys) {
    kyber_pre_keys[r.id] = r.data;
  }
  // This application uses each Kyber pre-key once.
  for (uint32_t id : changes.used_kyber_pre_keys) {
    used_kyber_pre_keys.insert(id);
    kyber_pre_keys.erase(id);
  }
}

Reply<StoreChanges> DartSide::ProcessBundle(const PeerAddress& peer,
                                            const PreKeyBundle& bundle) {
  Reply<StoreChanges> r =
      Call<StoreChanges>(kProcessBundle, Snapshot(), peer, bundle);
  if (r.action == 0)
    Apply(r.value);
  return r;
}

Reply<EncryptResult> DartSide::Encrypt(const PeerAddress& peer,
                                       ByteView plaintext) {
  Reply<EncryptResult> r =
      Call<EncryptResult>(kEncrypt, Snapshot(), peer,
                          SecretBytes(plaintext.begin(), plaintext.end()));
  if (r.action == 0)
    Apply(r.value.changes);
  return r;
}

Reply<DecryptResult> DartSide::Decrypt(const PeerAddress& peer,
                                       SignalMessageKind kind,
                                       ByteView ciphertext) {
  Reply<DecryptResult> r =
      Call<DecryptResult>(kDecrypt, Snapshot(), peer, kind,
                          Bytes(ciphertext.begin(), ciphertext.end()));
  if (r.action == 0)
    Apply(r.value.changes);
  return r;
}

proto::RecordStructure DartSide::Session(const PeerAddress& peer) const {
  proto::RecordStructure record;
  if (!proto::Decode(sessions.at(peer), &record)) {
    throw std::runtime_error("stored session record does not read");
  }
  return record;
}

void DartSide::SetSession(const PeerAddress& peer,
                          const proto::RecordStructure& record) {
  sessions[peer] = proto::Encode(record);
}

}  // namespace velmo::api::testing
