#include "store/stores.h"

#include <stdexcept>

namespace velmo::store {

namespace errors = proto::errors;

Status IdentityStore::Load(const PeerAddress& address, ByteView key) {
  Result<proto::PublicKey> read = proto::DecodePublicKey(key);
  if (!read.ok()) return read.take_error();
  keys_.insert_or_assign(address, *read);
  return Status::Ok();
}

Status IdentityStore::LoadLocal(ByteView key_pair_record,
                                uint32_t registration_id) {
  Result<proto::IdentityKeyPair> pair =
      proto::ReadIdentityKeyPair(key_pair_record);
  if (!pair.ok()) return pair.take_error();
  own_ = std::move(*pair);
  registration_id_ = registration_id;
  return Status::Ok();
}

const proto::IdentityKeyPair& IdentityStore::GetIdentityKeyPair() const {
  if (!own_) {
    // Building reads the key pair before any operation runs, so this is a
    // programming error, not something a snapshot can cause.
    throw std::logic_error("identity store used before it was built");
  }
  return *own_;
}

bool IdentityStore::SaveIdentity(const PeerAddress& address,
                                 const proto::PublicKey& key) {
  auto it = keys_.find(address);
  if (it != keys_.end() && it->second.Equals(key)) {
    return false;
  }
  bool replaced = it != keys_.end();
  if (replaced) {
    replaced_.insert(address);
  }
  keys_.insert_or_assign(address, key);
  saved_.insert(address);
  return replaced;
}

bool IdentityStore::IsTrustedIdentity(const PeerAddress& address,
                                      const proto::PublicKey& key,
                                      Direction /*direction*/) const {
  auto it = keys_.find(address);
  return it == keys_.end() || it->second.Equals(key);
}

std::optional<proto::PublicKey> IdentityStore::GetIdentity(
    const PeerAddress& address) const {
  auto it = keys_.find(address);
  if (it == keys_.end()) return std::nullopt;
  return it->second;
}

namespace {

template <class Bytes>
Status LoadRecord(std::map<PeerAddress, proto::RecordStructure>& records,
                  const PeerAddress& address, Bytes bytes) {
  Result<proto::RecordStructure> read =
      proto::ReadSessionRecord(std::move(bytes));
  if (!read.ok()) return read.take_error();
  records.insert_or_assign(address, std::move(*read));
  return Status::Ok();
}

}  // namespace

Status SessionStore::Load(const PeerAddress& address, ByteView record) {
  return LoadRecord(records_, address, record);
}

Status SessionStore::Load(const PeerAddress& address, SecretBytes record) {
  return LoadRecord(records_, address,
                    std::make_shared<const SecretBytes>(std::move(record)));
}

std::optional<proto::RecordStructure> SessionStore::LoadSession(
    const PeerAddress& address) const {
  auto it = records_.find(address);
  if (it == records_.end()) return std::nullopt;
  return it->second;
}

void SessionStore::StoreSession(const PeerAddress& address,
                                proto::RecordStructure record) {
  records_.insert_or_assign(address, std::move(record));
  stored_.insert(address);
}

namespace {

Result<proto::PreKeyRecordStructure> ReadRecord(
    ByteView in, const proto::PreKeyRecordStructure*) {
  return proto::ReadPreKeyRecord(in);
}

Result<proto::SignedPreKeyRecordStructure> ReadRecord(
    ByteView in, const proto::SignedPreKeyRecordStructure*) {
  return proto::ReadSignedPreKeyRecord(in);
}

}  // namespace

template <class Record>
Status PreKeyMap<Record>::Load(uint32_t id, ByteView record) {
  Result<Record> read = ReadRecord(record, static_cast<const Record*>(nullptr));
  if (!read.ok()) return read.take_error();
  records_.insert_or_assign(id, std::move(*read));
  return Status::Ok();
}

template class PreKeyMap<proto::PreKeyRecordStructure>;
template class PreKeyMap<proto::SignedPreKeyRecordStructure>;

Result<proto::PreKeyRecordStructure> PreKeyStore::GetPreKey(uint32_t id) const {
  return Get(id, &errors::InvalidPreKeyId);
}

void PreKeyStore::SavePreKey(uint32_t id, proto::PreKeyRecordStructure record) {
  Save(id, std::move(record));
  removed_.erase(id);
}

void PreKeyStore::RemovePreKey(uint32_t id) {
  records_.erase(id);
  saved_.erase(id);
  removed_.insert(id);
}

Result<proto::SignedPreKeyRecordStructure> SignedPreKeyStore::GetSignedPreKey(
    uint32_t id) const {
  return Get(id, &errors::InvalidSignedPreKeyId);
}

void SignedPreKeyStore::SaveSignedPreKey(
    uint32_t id, proto::SignedPreKeyRecordStructure record) {
  Save(id, std::move(record));
}

Result<proto::SignedPreKeyRecordStructure> KyberPreKeyStore::GetKyberPreKey(
    uint32_t id) const {
  return Get(id, &errors::InvalidKyberPreKeyId);
}

void KyberPreKeyStore::SaveKyberPreKey(
    uint32_t id, proto::SignedPreKeyRecordStructure record) {
  Save(id, std::move(record));
}

void KyberPreKeyStore::MarkKyberPreKeyUsed(uint32_t id) { used_.insert(id); }

ExportedChanges ProtocolStores::Export() const {
  ExportedChanges out;
  for (const PeerAddress& address : sessions.stored()) {
    out.sessions.emplace_back(address, proto::Encode(sessions.at(address)));
  }
  for (const PeerAddress& address : identity.saved()) {
    auto encoded = identity.GetIdentity(address).value().Encode();
    out.identities.emplace_back(address, Bytes(encoded.begin(), encoded.end()));
  }
  out.replaced_identities.assign(identity.replaced().begin(),
                                 identity.replaced().end());
  for (uint32_t id : pre_keys.saved()) {
    out.pre_keys.emplace_back(id, proto::Encode(pre_keys.at(id)));
  }
  out.removed_pre_keys.assign(pre_keys.removed().begin(),
                              pre_keys.removed().end());
  for (uint32_t id : signed_pre_keys.saved()) {
    out.signed_pre_keys.emplace_back(id, proto::Encode(signed_pre_keys.at(id)));
  }
  for (uint32_t id : kyber_pre_keys.saved()) {
    out.kyber_pre_keys.emplace_back(id, proto::Encode(kyber_pre_keys.at(id)));
  }
  out.used_kyber_pre_keys.assign(kyber_pre_keys.used().begin(),
                                 kyber_pre_keys.used().end());
  return out;
}

}  // namespace velmo::store
