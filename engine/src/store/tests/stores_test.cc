#include "store/stores.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmo::store {
namespace {

std::vector<uint8_t> EncodedKey(uint8_t fill, size_t extra = 0) {
  std::vector<uint8_t> key(33 + extra, fill);
  key[0] = 0x05;
  return key;
}

proto::PublicKey Key(uint8_t fill) {
  return proto::DecodePublicKey(EncodedKey(fill)).value();
}

SecretBytes PreKeyRecord(uint32_t id_inside) {
  proto::PreKeyRecordStructure record;
  record.id = id_inside;
  record.public_key.assign(EncodedKey(1));
  return proto::Encode(record);
}

SecretBytes SignedRecord(uint32_t id_inside) {
  proto::SignedPreKeyRecordStructure record;
  record.id = id_inside;
  record.timestamp = 5;
  return proto::Encode(record);
}

const PeerAddress kAlice{"alice", 1};
const PeerAddress kBob{"bob", 2};

template <class T>
std::vector<T> Firsts(const auto& pairs) {
  std::vector<T> out;
  for (const auto& p : pairs) out.push_back(p.first);
  return out;
}

TEST(IdentityStore, LaterDuplicateWins) {
  IdentityStore store;
  ASSERT_TRUE(store.Load(kAlice, EncodedKey(1)).ok());
  ASSERT_TRUE(store.Load(kAlice, EncodedKey(2)).ok());
  EXPECT_EQ(Key(2), store.GetIdentity(kAlice).value());
}

TEST(IdentityStore, LongKeyStringIsCutTo33Bytes) {
  IdentityStore store;
  ASSERT_TRUE(store.Load(kAlice, EncodedKey(1, 1)).ok());
  EXPECT_EQ(Key(1), store.GetIdentity(kAlice).value());

  ProtocolStores stores;
  ASSERT_TRUE(stores.identity.Load(kAlice, EncodedKey(1, 1)).ok());
  EXPECT_TRUE(stores.identity.SaveIdentity(kAlice, Key(3)));
  ExportedChanges changes = stores.Export();
  ASSERT_EQ(1u, changes.identities.size());
  EXPECT_EQ(EncodedKey(3), changes.identities[0].second);
}

TEST(IdentityStore, KeyReadFailures) {
  IdentityStore store;
  const struct {
    std::vector<uint8_t> key;
    const char* text;
  } kCases[] = {
      {{}, "no key type identifier"},
      {{0x07, 1, 2}, "bad key type <0x07>"},
      {{0x05, 1, 2}, "bad key length <3> for key with type <Djb>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    Status s = store.Load(kAlice, c.key);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(c.text, s.error().message);
  }
}

TEST(IdentityStore, SaveAndTrust) {
  ProtocolStores stores;
  ASSERT_TRUE(stores.identity.Load(kAlice, EncodedKey(1)).ok());

  // Unknown addresses trust any key; known ones only the remembered key.
  EXPECT_TRUE(stores.identity.IsTrustedIdentity(kBob, Key(9), Direction::kSending));
  EXPECT_TRUE(stores.identity.IsTrustedIdentity(kAlice, Key(1), Direction::kReceiving));
  EXPECT_FALSE(stores.identity.IsTrustedIdentity(kAlice, Key(2), Direction::kSending));

  // The equal key changes nothing.
  EXPECT_FALSE(stores.identity.SaveIdentity(kAlice, Key(1)));
  ExportedChanges none = stores.Export();
  EXPECT_TRUE(none.identities.empty());
  EXPECT_TRUE(none.replaced_identities.empty());

  // A new address is saved, not replaced.
  EXPECT_FALSE(stores.identity.SaveIdentity(kBob, Key(7)));
  // A different key is saved and replaced.
  EXPECT_TRUE(stores.identity.SaveIdentity(kAlice, Key(2)));
  ExportedChanges changes = stores.Export();
  EXPECT_EQ((std::vector<PeerAddress>{kAlice, kBob}),
            Firsts<PeerAddress>(changes.identities));
  EXPECT_EQ(EncodedKey(2), changes.identities[0].second);
  EXPECT_EQ(std::vector<PeerAddress>{kAlice}, changes.replaced_identities);
  EXPECT_TRUE(stores.identity.IsTrustedIdentity(kAlice, Key(2), Direction::kSending));
}

TEST(IdentityStore, LocalIdentity) {
  IdentityStore store;
  Status empty = store.LoadLocal({}, 0);
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ("no key type identifier", empty.error().message);

  std::vector<uint8_t> scalar(32, 3);
  proto::IdentityKeyPair pair{
      Key(4), proto::PrivateKey(std::span<const uint8_t, 32>(scalar.data(), 32))};
  ASSERT_TRUE(store.LoadLocal(proto::SerializeIdentityKeyPair(pair), 0).ok());
  EXPECT_EQ(Key(4), store.GetIdentityKeyPair().public_key);
  EXPECT_EQ(0u, store.GetLocalRegistrationId());
}

TEST(SessionStore, CopiesAreIndependentAndExportIsInAddressOrder) {
  ProtocolStores stores;
  proto::RecordStructure record;
  record.current_session.emplace().session_version = 3;
  ASSERT_TRUE(stores.sessions.Load(kAlice, proto::Encode(record)).ok());

  std::optional<proto::RecordStructure> loaded = stores.sessions.LoadSession(kAlice);
  ASSERT_TRUE(loaded.has_value());
  loaded->current_session->session_version = 4;
  EXPECT_EQ(3u, stores.sessions.LoadSession(kAlice)->current_session->session_version);
  EXPECT_FALSE(stores.sessions.LoadSession(kBob).has_value());
  EXPECT_TRUE(stores.Export().sessions.empty());  // loaded, never stored

  stores.sessions.StoreSession({"bob", 2}, *loaded);
  stores.sessions.StoreSession({"alice", 9}, *loaded);
  stores.sessions.StoreSession({"al", 3}, *loaded);
  ExportedChanges changes = stores.Export();
  EXPECT_EQ((std::vector<PeerAddress>{{"al", 3}, {"alice", 9}, {"bob", 2}}),
            Firsts<PeerAddress>(changes.sessions));
  proto::RecordStructure written;
  ASSERT_TRUE(proto::Decode(changes.sessions[0].second, &written));
  EXPECT_EQ(4u, written.current_session->session_version);
}

TEST(SessionStore, UnreadableRecord) {
  SessionStore store;
  std::vector<uint8_t> bad = {0x0a, 0x05};
  Status s = store.Load(kAlice, bad);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ("invalid session: failed to decode session record protobuf",
            s.error().message);
}

TEST(PreKeyStores, MapKeyIsTheEntryId) {
  ProtocolStores stores;
  ASSERT_TRUE(stores.pre_keys.Load(7, PreKeyRecord(9)).ok());
  ASSERT_TRUE(stores.signed_pre_keys.Load(7, SignedRecord(9)).ok());
  ASSERT_TRUE(stores.kyber_pre_keys.Load(7, SignedRecord(9)).ok());
  EXPECT_EQ(9u, stores.pre_keys.GetPreKey(7)->id);
  EXPECT_TRUE(stores.signed_pre_keys.GetSignedPreKey(7).ok());
  EXPECT_TRUE(stores.kyber_pre_keys.GetKyberPreKey(7).ok());

  Result<proto::PreKeyRecordStructure> one_time = stores.pre_keys.GetPreKey(9);
  ASSERT_FALSE(one_time.ok());
  EXPECT_EQ("invalid prekey identifier", one_time.error().message);
  EXPECT_EQ(proto::ErrorCode::kInvalidPreKeyId, one_time.error().code);
  Result<proto::SignedPreKeyRecordStructure> signed_key =
      stores.signed_pre_keys.GetSignedPreKey(9);
  ASSERT_FALSE(signed_key.ok());
  EXPECT_EQ("invalid signed prekey identifier", signed_key.error().message);
  Result<proto::SignedPreKeyRecordStructure> kyber =
      stores.kyber_pre_keys.GetKyberPreKey(9);
  ASSERT_FALSE(kyber.ok());
  EXPECT_EQ("invalid Kyber prekey identifier", kyber.error().message);
}

TEST(PreKeyStores, LaterDuplicateWinsAndBadRecordsFail) {
  PreKeyStore store;
  ASSERT_TRUE(store.Load(7, PreKeyRecord(1)).ok());
  ASSERT_TRUE(store.Load(7, PreKeyRecord(2)).ok());
  EXPECT_EQ(2u, store.GetPreKey(7)->id);
  std::vector<uint8_t> bad = {0x08};
  EXPECT_EQ("protobuf encoding was invalid", store.Load(8, bad).error().message);
  SignedPreKeyStore signed_store;
  EXPECT_EQ("protobuf encoding was invalid",
            signed_store.Load(8, bad).error().message);
  KyberPreKeyStore kyber_store;
  EXPECT_EQ("protobuf encoding was invalid",
            kyber_store.Load(8, bad).error().message);
}

TEST(PreKeyStores, SaveAndRemoveInEitherOrder) {
  ProtocolStores stores;
  proto::PreKeyRecordStructure record;
  record.id = 5;

  stores.pre_keys.SavePreKey(5, record);
  stores.pre_keys.RemovePreKey(5);
  stores.pre_keys.RemovePreKey(6);  // never held
  stores.pre_keys.SavePreKey(8, record);
  stores.pre_keys.RemovePreKey(7);
  stores.pre_keys.SavePreKey(7, record);

  ExportedChanges changes = stores.Export();
  EXPECT_EQ((std::vector<uint32_t>{7, 8}), Firsts<uint32_t>(changes.pre_keys));
  EXPECT_EQ((std::vector<uint32_t>{5, 6}), changes.removed_pre_keys);
  EXPECT_FALSE(stores.pre_keys.GetPreKey(5).ok());
}

TEST(PreKeyStores, KyberUsedListedOnceAndRecordNotExported) {
  ProtocolStores stores;
  ASSERT_TRUE(stores.kyber_pre_keys.Load(3, SignedRecord(3)).ok());
  stores.kyber_pre_keys.MarkKyberPreKeyUsed(3);
  stores.kyber_pre_keys.MarkKyberPreKeyUsed(3);
  stores.kyber_pre_keys.MarkKyberPreKeyUsed(1);
  EXPECT_TRUE(stores.kyber_pre_keys.GetKyberPreKey(3).ok());  // kept

  proto::SignedPreKeyRecordStructure saved;
  saved.id = 2;
  stores.signed_pre_keys.SaveSignedPreKey(2, saved);
  stores.kyber_pre_keys.SaveKyberPreKey(4, saved);

  ExportedChanges changes = stores.Export();
  EXPECT_EQ((std::vector<uint32_t>{1, 3}), changes.used_kyber_pre_keys);
  EXPECT_EQ(std::vector<uint32_t>{4}, Firsts<uint32_t>(changes.kyber_pre_keys));
  EXPECT_EQ(std::vector<uint32_t>{2}, Firsts<uint32_t>(changes.signed_pre_keys));
  EXPECT_EQ(proto::Encode(saved), changes.signed_pre_keys[0].second);
}

}  // namespace
}  // namespace velmo::store
