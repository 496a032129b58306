// The five per-call protocol stores. The engine keeps no protocol state
// between calls: an operation that needs keys or sessions builds these stores
// from the snapshot the Dart side hands in, lets the session code read and
// write them, and exports what was written as the call's changes.
//
// Every map holds parsed records; record bytes are made again only at export.
// Maps and change sets are ordered (addresses by name byte-wise, then device
// id; ids ascending), which is the export order. Each store keeps the
// invariant that every element of a saved or stored set is a key of its map,
// so export cannot fail.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "protocol/address.h"
#include "protocol/error.h"
#include "protocol/keys.h"
#include "protocol/records.h"

namespace velmo::store {

using crypto::Bytes;
using crypto::ByteView;
using crypto::SecretBytes;
using proto::PeerAddress;
using proto::Result;
using proto::Status;

enum class Direction { kSending, kReceiving };

// Own identity and the identity keys remembered for peers.
class IdentityStore {
 public:
  // Build: remember `key` (33-byte encoding; longer strings are cut to 33)
  // for `address`; a later entry for the same address replaces an earlier
  // one. Key read failures as the key reader gives them.
  Status Load(const PeerAddress& address, ByteView key);
  // Build: the own identity key pair record and registration id.
  Status LoadLocal(ByteView key_pair_record, uint32_t registration_id);

  const proto::IdentityKeyPair& GetIdentityKeyPair() const;
  uint32_t GetLocalRegistrationId() const { return registration_id_; }

  // SaveIdentity remembers `key` for `address`. True when it replaced a
  // different key (the address then also joins the replaced set).
  bool SaveIdentity(const PeerAddress& address, const proto::PublicKey& key);
  // IsTrustedIdentity: an address without a remembered key trusts any key;
  // otherwise only the remembered one. The direction does not matter.
  bool IsTrustedIdentity(const PeerAddress& address,
                         const proto::PublicKey& key,
                         Direction direction) const;
  std::optional<proto::PublicKey> GetIdentity(const PeerAddress& address) const;

  const std::set<PeerAddress>& saved() const { return saved_; }
  const std::set<PeerAddress>& replaced() const { return replaced_; }

 private:
  std::optional<proto::IdentityKeyPair> own_;
  uint32_t registration_id_ = 0;
  std::map<PeerAddress, proto::PublicKey> keys_;
  std::set<PeerAddress> saved_;
  std::set<PeerAddress> replaced_;
};

class SessionStore {
 public:
  // Build: "invalid session: failed to decode session record protobuf".
  Status Load(const PeerAddress& address, ByteView record);
  // The same, taking the record's bytes over: its archived states stay in
  // them rather than being copied out.
  Status Load(const PeerAddress& address, SecretBytes record);

  // LoadSession returns an independent copy of the stored record (archived
  // states, which never change, are shared), or nullopt.
  std::optional<proto::RecordStructure> LoadSession(
      const PeerAddress& address) const;
  void StoreSession(const PeerAddress& address, proto::RecordStructure record);

  const std::set<PeerAddress>& stored() const { return stored_; }
  const proto::RecordStructure& at(const PeerAddress& address) const {
    return records_.at(address);
  }

 private:
  std::map<PeerAddress, proto::RecordStructure> records_;
  std::set<PeerAddress> stored_;
};

// PreKeyMap is what the three pre-key stores share: records by id (the
// entry's id, whatever id the record itself names) and the set of ids saved
// in this call.
template <class Record>
class PreKeyMap {
 public:
  // Build: "protobuf encoding was invalid"; a later entry for an id
  // replaces an earlier one.
  Status Load(uint32_t id, ByteView record);

  const std::set<uint32_t>& saved() const { return saved_; }
  const Record& at(uint32_t id) const { return records_.at(id); }

 protected:
  // Get returns a copy of the record, or `missing` when there is none.
  Result<Record> Get(uint32_t id, proto::Error (*missing)()) const {
    auto it = records_.find(id);
    if (it == records_.end()) return missing();
    return it->second;
  }
  void Save(uint32_t id, Record record) {
    records_.insert_or_assign(id, std::move(record));
    saved_.insert(id);
  }

  std::map<uint32_t, Record> records_;
  std::set<uint32_t> saved_;
};

class PreKeyStore : public PreKeyMap<proto::PreKeyRecordStructure> {
 public:
  // "invalid prekey identifier" when the store does not hold `id`.
  Result<proto::PreKeyRecordStructure> GetPreKey(uint32_t id) const;
  void SavePreKey(uint32_t id, proto::PreKeyRecordStructure record);
  // The id is listed as removed whether or not the store held it.
  void RemovePreKey(uint32_t id);

  const std::set<uint32_t>& removed() const { return removed_; }

 private:
  std::set<uint32_t> removed_;
};

class SignedPreKeyStore
    : public PreKeyMap<proto::SignedPreKeyRecordStructure> {
 public:
  // "invalid signed prekey identifier".
  Result<proto::SignedPreKeyRecordStructure> GetSignedPreKey(uint32_t id) const;
  void SaveSignedPreKey(uint32_t id, proto::SignedPreKeyRecordStructure record);
};

class KyberPreKeyStore : public PreKeyMap<proto::SignedPreKeyRecordStructure> {
 public:
  // "invalid Kyber prekey identifier".
  Result<proto::SignedPreKeyRecordStructure> GetKyberPreKey(uint32_t id) const;
  void SaveKyberPreKey(uint32_t id, proto::SignedPreKeyRecordStructure record);
  // The record stays; the id is listed as used (once).
  void MarkKyberPreKeyUsed(uint32_t id);

  const std::set<uint32_t>& used() const { return used_; }

 private:
  std::set<uint32_t> used_;
};

// What one call changed, in export order, with records written out.
struct ExportedChanges {
  std::vector<std::pair<PeerAddress, SecretBytes>> sessions;
  std::vector<std::pair<PeerAddress, Bytes>> identities;  // 33 bytes each
  std::vector<PeerAddress> replaced_identities;
  std::vector<std::pair<uint32_t, SecretBytes>> pre_keys;
  std::vector<uint32_t> removed_pre_keys;
  std::vector<std::pair<uint32_t, SecretBytes>> signed_pre_keys;
  std::vector<std::pair<uint32_t, SecretBytes>> kyber_pre_keys;
  std::vector<uint32_t> used_kyber_pre_keys;
};

struct ProtocolStores {
  IdentityStore identity;
  SessionStore sessions;
  PreKeyStore pre_keys;
  SignedPreKeyStore signed_pre_keys;
  KyberPreKeyStore kyber_pre_keys;

  // Export writes out every record a store operation saved or stored, and
  // the ids and addresses of the other changes. Records never touched in
  // the call are not exported.
  ExportedChanges Export() const;
};

}  // namespace velmo::store
