// Building the stores from a snapshot and exporting the changes.
#include "api/protocol/store_frame.h"

#include <gtest/gtest.h>

#include "api/protocol/tests/test_keys.h"
#include "bridge/codec.h"

namespace velmo::api {
namespace {

using testing::Fill;
using testing::PreKeyRecordWith;
using testing::Secret;
using testing::SignedRecordWith;
using testing::TestIdentity;

const PeerAddress kAlice{"alice", 1};
const PeerAddress kBob{"bob", 2};

StoreSnapshot ValidSnapshot() {
  StoreSnapshot s;
  s.identity_key_pair = TestIdentity().key_pair;
  s.registration_id = 0;  // accepted
  return s;
}

proto::PublicKey Key(uint8_t fill) {
  return proto::DecodePublicKey(Fill(32, fill, 5)).value();
}

TEST(StoreFrame, LaterEntriesWinAndIdsComeFromTheEntry) {
  StoreSnapshot s = ValidSnapshot();
  s.registration_id = 4321;
  s.identities = {{kAlice, Secret(Fill(32, 1, 5))}, {kAlice, Secret(Fill(32, 2, 5))},
                  {kBob, Secret(Fill(33, 3, 5))}};  // 34 bytes
  s.pre_keys = {{7, PreKeyRecordWith(9, {}, {})}};
  s.signed_pre_keys = {{1, SignedRecordWith(1, {})}, {1, SignedRecordWith(5, {})}};
  Outcome<store::ProtocolStores> built = BuildStores(std::move(s));
  ASSERT_TRUE(built.ok()) << built.error().message;
  store::ProtocolStores& stores = built.value();
  EXPECT_EQ(Key(2), stores.identity.GetIdentity(kAlice));
  EXPECT_EQ(Key(3), stores.identity.GetIdentity(kBob));
  EXPECT_EQ(4321u, stores.identity.GetLocalRegistrationId());
  EXPECT_EQ(9u, stores.pre_keys.GetPreKey(7)->id);
  EXPECT_FALSE(stores.pre_keys.GetPreKey(9).ok());
  EXPECT_EQ(5u, stores.signed_pre_keys.GetSignedPreKey(1)->id);

  // Nothing was touched: nothing to export.
  EXPECT_EQ(StoreChanges{}, ExportChanges(stores));
}

TEST(StoreFrame, ExportListsEveryChangeInOrder) {
  StoreSnapshot s = ValidSnapshot();
  s.identities = {{kAlice, Secret(Fill(33, 1, 5))}};  // 34 bytes kept as 33
  Outcome<store::ProtocolStores> built = BuildStores(std::move(s));
  ASSERT_TRUE(built.ok());
  store::ProtocolStores& stores = built.value();

  proto::RecordStructure record;
  record.current_session.emplace().session_version = 4;
  stores.sessions.StoreSession({"bob", 2}, record);
  stores.sessions.StoreSession({"alice", 9}, record);
  stores.sessions.StoreSession({"al", 3}, record);
  EXPECT_TRUE(stores.identity.SaveIdentity(kAlice, Key(8)));
  EXPECT_FALSE(stores.identity.SaveIdentity(kBob, Key(9)));
  stores.pre_keys.SavePreKey(5, {});
  stores.pre_keys.RemovePreKey(5);
  stores.pre_keys.RemovePreKey(2);
  stores.signed_pre_keys.SaveSignedPreKey(3, {});
  stores.kyber_pre_keys.MarkKyberPreKeyUsed(6);
  stores.kyber_pre_keys.MarkKyberPreKeyUsed(6);

  StoreChanges changes = ExportChanges(stores);
  ASSERT_EQ(3u, changes.sessions.size());
  EXPECT_EQ((PeerAddress{"al", 3}), changes.sessions[0].address);
  EXPECT_EQ((PeerAddress{"alice", 9}), changes.sessions[1].address);
  EXPECT_EQ((PeerAddress{"bob", 2}), changes.sessions[2].address);
  EXPECT_EQ(proto::Encode(record), changes.sessions[0].data);
  EXPECT_EQ((std::vector<AddressedRecord>{{kAlice, Secret(Fill(32, 8, 5))},
                                          {kBob, Secret(Fill(32, 9, 5))}}),
            changes.identities);
  EXPECT_EQ(std::vector<PeerAddress>{kAlice}, changes.replaced_identities);
  EXPECT_TRUE(changes.pre_keys.empty());
  EXPECT_EQ((std::vector<uint32_t>{2, 5}), changes.removed_pre_keys);
  ASSERT_EQ(1u, changes.signed_pre_keys.size());
  EXPECT_EQ(3u, changes.signed_pre_keys[0].id);
  EXPECT_TRUE(changes.kyber_pre_keys.empty());
  EXPECT_EQ(std::vector<uint32_t>{6}, changes.used_kyber_pre_keys);
}

TEST(StoreFrame, DefaultSnapshotDoesNotBuild) {
  Outcome<store::ProtocolStores> built = BuildStores(StoreSnapshot{});
  ASSERT_FALSE(built.ok());
  EXPECT_EQ((EngineError{ErrorKind::InvalidKey, "no key type identifier"}),
            built.error());
}

}  // namespace
}  // namespace velmo::api
