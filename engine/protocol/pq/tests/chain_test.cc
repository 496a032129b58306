#include "protocol/pq/chain.h"

#include <gtest/gtest.h>

#include "crypto/hkdf.h"
#include "protocol/pq/authenticator.h"
#include "tests/test_util.h"

namespace velmo::pq {
namespace {

using testing::Hex;

crypto::Bytes AuthKey() {
  crypto::Bytes k(32);
  for (size_t i = 0; i < k.size(); i++) k[i] = static_cast<uint8_t>(i);
  return k;
}

std::string KeyHex(const MessageKey& k) { return Hex(ByteView(k)); }

size_t KeptCount(const ChainRecord& c, size_t link) {
  return c.links[link].recv->prev.size() / kKeptKeyBytes;
}

// Known answers computed outside this code base with a plain HKDF-SHA256
// from the labels: they pin the two spaces of the start label, the split by
// direction and the counter prefix of the next-key label.
TEST(ChainTest, StartAndFirstKeyKnownAnswers) {
  const crypto::Bytes auth = AuthKey();
  ChainRecord a = StartChain(auth, 0, std::nullopt);
  ChainRecord b = StartChain(auth, 1, std::nullopt);
  EXPECT_EQ("cecef8bfcf6f9248e22dbcaf8aae953e8eda4a2525ee2aca6fdbf00ed3b671d9",
            Hex(a.next_root));
  const std::string low =
      "cf242eedd7fba9a7092aa6a0ab4683b96e70e2a43876bda97e567fdffb290577";
  const std::string high =
      "c6aa9194504352d146ac7f6a8a785d21193ec6ef44719ede0c74d9099414b4f1";
  EXPECT_EQ(low, Hex(a.links[0].send->next));
  EXPECT_EQ(high, Hex(a.links[0].recv->next));
  EXPECT_EQ(high, Hex(b.links[0].send->next));
  EXPECT_EQ(low, Hex(b.links[0].recv->next));
  EXPECT_EQ(0u, a.current_epoch);
  EXPECT_EQ(0u, a.send_epoch);
  EXPECT_TRUE(ChainIsWellFormed(a));

  // A one-space label would give other keys altogether.
  const std::string_view one_space = "Signal PQ Ratchet V1 Chain Start";
  auto other = crypto::HkdfSha256<96>(
      {}, auth,
      ByteView(reinterpret_cast<const uint8_t*>(one_space.data()),
               one_space.size()));
  EXPECT_NE(Hex(a.next_root), Hex(ByteView(other).first(32)));

  Result<IndexedKey> k = SendKey(a, 0);
  ASSERT_TRUE(k.ok());
  EXPECT_EQ(1u, k->index);
  EXPECT_EQ("4e95e19749223cd40e0790a3f65f4265a51834cdc72602a6eab133b015ed48d9",
            KeyHex(k->key));
  Result<MessageKey> r = RecvKey(b, 0, 1);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(KeyHex(k->key), KeyHex(*r));
}

TEST(ChainTest, ReceivingAheadKeepsTheSkippedKeys) {
  ChainRecord a = StartChain(AuthKey(), 0, std::nullopt);
  ChainRecord b = StartChain(AuthKey(), 1, std::nullopt);
  std::vector<std::string> sent(11);
  for (uint32_t i = 1; i <= 10; i++) {
    Result<IndexedKey> k = SendKey(a, 0);
    ASSERT_TRUE(k.ok());
    ASSERT_EQ(i, k->index);
    sent[i] = KeyHex(k->key);
  }
  for (uint32_t i = 1; i <= 3; i++) {
    ASSERT_TRUE(RecvKey(b, 0, i).ok());
  }
  Result<MessageKey> ten = RecvKey(b, 0, 10);
  ASSERT_TRUE(ten.ok());
  EXPECT_EQ(sent[10], KeyHex(*ten));
  EXPECT_EQ(216u, b.links[0].recv->prev.size());
  EXPECT_EQ(10u, b.links[0].recv->ctr);

  Result<MessageKey> seven = RecvKey(b, 0, 7);
  ASSERT_TRUE(seven.ok());
  EXPECT_EQ(sent[7], KeyHex(*seven));
  EXPECT_EQ(5u, KeptCount(b, 0));
  // Removal moved the last entry (9) into 7's place.
  EXPECT_EQ(Hex(b.links[0].recv->prev).substr(3 * 72, 8), "00000009");

  for (uint32_t again : {7u, 10u, 2u}) {
    Result<MessageKey> r = RecvKey(b, 0, again);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(ErrorCode::kKeyAlreadyRequested, r.error().code);
    EXPECT_EQ("Key already requested: " + std::to_string(again),
              r.error().message);
  }
  for (uint32_t i : {4u, 5u, 6u, 8u, 9u}) {
    Result<MessageKey> r = RecvKey(b, 0, i);
    ASSERT_TRUE(r.ok()) << i;
    EXPECT_EQ(sent[i], KeyHex(*r)) << i;
  }
  EXPECT_TRUE(b.links[0].recv->prev.empty());
}

TEST(ChainTest, JumpAndWindowLimits) {
  ChainRecord b = StartChain(AuthKey(), 1, std::nullopt);
  Result<MessageKey> far = RecvKey(b, 0, 25001);
  ASSERT_FALSE(far.ok());
  EXPECT_EQ("Key jump: 0 - 25001", far.error().message);

  // Index 3000 from counter 0: only the 2000 keys below it stay.
  ASSERT_TRUE(RecvKey(b, 0, 3000).ok());
  EXPECT_EQ(2000u, KeptCount(b, 0));
  Result<MessageKey> old = RecvKey(b, 0, 999);
  ASSERT_FALSE(old.ok());
  EXPECT_EQ("Key trimmed: 999", old.error().message);
  EXPECT_TRUE(RecvKey(b, 0, 1000).ok());

  // A further jump past the window forgets every kept key.
  ASSERT_TRUE(RecvKey(b, 0, 5001).ok());
  EXPECT_EQ(2000u, KeptCount(b, 0));
  EXPECT_FALSE(RecvKey(b, 0, 2999).ok());
  EXPECT_TRUE(RecvKey(b, 0, 3001).ok());
}

TEST(ChainTest, KeptKeysAreTrimmedPastTheirCapacity) {
  ChainRecord b = StartChain(AuthKey(), 1, std::nullopt);
  ASSERT_TRUE(RecvKey(b, 0, 2000).ok());  // keeps 1..1999
  EXPECT_EQ(1999u, KeptCount(b, 0));
  ASSERT_TRUE(RecvKey(b, 0, 4000).ok());  // adds 2001..3999: 3998 entries
  // 3998 entries pass (2000 * 11 / 10) + 1 = 2201, so those below
  // 3999 - 2000 went.
  EXPECT_EQ(2000u, KeptCount(b, 0));
  EXPECT_TRUE(RecvKey(b, 0, 2001).ok());
}

TEST(ChainTest, ParametersComeFromTheState) {
  ChainRecord b = StartChain(AuthKey(), 1, ChainParamsRecord{4294967295u, 10});
  ASSERT_TRUE(RecvKey(b, 0, 30000).ok());  // no jump limit
  EXPECT_EQ(10u, KeptCount(b, 0));
  EXPECT_EQ("Key trimmed: 29989", RecvKey(b, 0, 29989).error().message);
  EXPECT_TRUE(RecvKey(b, 0, 29990).ok());
}

TEST(ChainTest, NewSendEpochRetiresTheOldOne) {
  ChainRecord a = StartChain(AuthKey(), 0, std::nullopt);
  ChainRecord b = StartChain(AuthKey(), 1, std::nullopt);
  EpochSecret secret = DeriveEpochSecret(AuthKey(), 1);
  ASSERT_TRUE(AddEpoch(a, 1, secret).ok());
  ASSERT_TRUE(AddEpoch(b, 1, secret).ok());
  EXPECT_EQ("epoch not in valid range: 3", AddEpoch(a, 3, secret).error().message);

  ASSERT_TRUE(SendKey(a, 0).ok());
  ASSERT_TRUE(SendKey(a, 0).ok());
  Result<IndexedKey> k1 = SendKey(a, 1);
  ASSERT_TRUE(k1.ok());
  EXPECT_EQ(1u, k1->index);
  EXPECT_EQ(2u, a.links.size());
  EXPECT_EQ(1u, a.send_epoch);
  EXPECT_TRUE(a.links[0].send->next.empty());
  EXPECT_EQ("Send key epoch decreased (1 -> 0)", SendKey(a, 0).error().message);
  EXPECT_EQ("epoch not in valid range: 2", SendKey(a, 2).error().message);

  // Epoch 0 still gives receive keys, and both sides agree on epoch 1.
  Result<IndexedKey> b0 = SendKey(b, 0);
  ASSERT_TRUE(b0.ok());
  Result<MessageKey> a0 = RecvKey(a, 0, b0->index);
  ASSERT_TRUE(a0.ok());
  EXPECT_EQ(KeyHex(b0->key), KeyHex(*a0));
  Result<MessageKey> b1 = RecvKey(b, 1, 1);
  ASSERT_TRUE(b1.ok());
  EXPECT_EQ(KeyHex(k1->key), KeyHex(*b1));

  // Moving to epoch 2 drops epoch 0.
  ASSERT_TRUE(AddEpoch(a, 2, secret).ok());
  ASSERT_TRUE(SendKey(a, 2).ok());
  EXPECT_EQ(2u, a.links.size());
  EXPECT_EQ("epoch not in valid range: 0", RecvKey(a, 0, 5).error().message);
  EXPECT_TRUE(ChainIsWellFormed(a));
}

TEST(ChainTest, MalformedChainsAreRecognised) {
  const ChainRecord good = StartChain(AuthKey(), 0, std::nullopt);
  const struct {
    const char* name;
    void (*change)(ChainRecord&);
  } kCases[] = {
      {"direction 2", [](ChainRecord& c) { c.direction = 2; }},
      {"short root", [](ChainRecord& c) { c.next_root.pop_back(); }},
      {"no epochs", [](ChainRecord& c) { c.links.clear(); }},
      {"more epochs than numbers",
       [](ChainRecord& c) { c.links.push_back(c.links[0]); }},
      {"short chain key",
       [](ChainRecord& c) { c.links[0].recv->next.resize(31); }},
      {"partial kept key",
       [](ChainRecord& c) { c.links[0].recv->prev.resize(35); }},
      {"no receive direction", [](ChainRecord& c) { c.links[0].recv.reset(); }},
  };
  EXPECT_TRUE(ChainIsWellFormed(good));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ChainRecord bad = good;
    c.change(bad);
    EXPECT_FALSE(ChainIsWellFormed(bad));
  }
}

TEST(AuthenticatorTest, KnownAnswers) {
  Authenticator a = Authenticator::Create(AuthKey(), 1);
  EXPECT_EQ("eae875be1b0c8ce16b6c7b67a9d4b49f476d93eaf152676b82bd4a1993211a05",
            Hex(ByteView(a.root_key)));
  EXPECT_EQ("0d54710b71cef4864e8339471177d3699162c711907b0c5593ce569a0b43c30e",
            Hex(ByteView(a.mac_key)));
  const crypto::Bytes header(64, 0xAA);
  const Mac mac = a.HeaderMac(1, header);
  EXPECT_EQ("a863ba097931d6b57598fa6fb2c13cb1bb0d01af88179fc73311d42f64518c5e",
            Hex(mac));
  EXPECT_TRUE(MacsEqual(mac, a.HeaderMac(1, header)));
  EXPECT_FALSE(MacsEqual(mac, a.HeaderMac(2, header)));
  EXPECT_FALSE(MacsEqual(mac, a.CiphertextMac(1, header)));
  EXPECT_FALSE(MacsEqual(ByteView(mac).first(31), mac));
}

}  // namespace
}  // namespace velmo::pq
