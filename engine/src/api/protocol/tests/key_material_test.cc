// Key material generation (operations 4-8), through the entry point and,
// where the random source or the clock matters, through the generators.
#include <gtest/gtest.h>

#include <set>

#include "api/protocol/key_material.h"
#include "api/protocol/tests/call.h"
#include "api/protocol/tests/test_keys.h"
#include "crypto/clock.h"
#include "crypto/xeddsa.h"
#include "protocol/records.h"

namespace velmo::api {
namespace {

using testing::Call;
using testing::TestIdentity;

using KeyList = std::vector<GeneratedPreKey>;

// Every generated X25519 private key is clamped as stored.
void ExpectClamped(crypto::ByteView key) {
  ASSERT_EQ(32u, key.size());
  EXPECT_EQ(0, key[0] & 7);
  EXPECT_EQ(0x40, key[31] & 0xc0);
}

bool Verifies(const Bytes& identity_public, const Bytes& message,
              const Bytes& signature) {
  testing::Reply<bool> r = Call<bool>(11, identity_public, message, signature);
  EXPECT_EQ(0, r.action) << r.error.message;
  return r.value;
}

TEST(KeyMaterial, IdentityKeyPair) {
  for (int i = 0; i < 5; i++) {
    testing::Reply<GeneratedIdentityKeyPair> r = Call<GeneratedIdentityKeyPair>(4);
    ASSERT_EQ(0, r.action);
    proto::IdentityKeyPairStructure record;
    ASSERT_TRUE(proto::Decode(r.value.key_pair, &record));
    EXPECT_EQ(r.value.public_key, Bytes(record.public_key.view().begin(),
                                        record.public_key.view().end()));
    ExpectClamped(record.private_key);
    // The public key belongs to the private key.
    proto::IdentityKeyPair pair = proto::ReadIdentityKeyPair(r.value.key_pair).value();
    EXPECT_EQ(pair.private_key.GetPublicKey(), pair.public_key);
    // Operation 9 reads it back.
    testing::Reply<Bytes> public_key = Call<Bytes>(9, r.value.key_pair);
    ASSERT_EQ(0, public_key.action);
    EXPECT_EQ(r.value.public_key, public_key.value);
  }
}

TEST(KeyMaterial, OneTimePreKeys) {
  bridge::ByteWriter args;
  bridge::Write(args, uint32_t{1});
  bridge::Write(args, uint32_t{100});
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 0x64, 0, 0, 0}),
            std::vector<uint8_t>(args.view().begin(), args.view().end()));

  testing::Reply<KeyList> r = Call<KeyList>(6, uint32_t{1}, uint32_t{100});
  ASSERT_EQ(0, r.action) << r.error.message;
  ASSERT_EQ(100u, r.value.size());
  std::set<std::string> distinct;
  for (uint32_t i = 0; i < 100; i++) {
    const GeneratedPreKey& key = r.value[i];
    SCOPED_TRACE(key.id);
    EXPECT_EQ(i + 1, key.id);
    EXPECT_TRUE(key.signature.empty());
    ASSERT_EQ(33u, key.public_key.size());
    EXPECT_EQ(0x05, key.public_key[0]);
    distinct.emplace(key.public_key.begin(), key.public_key.end());
    proto::PreKeyRecordStructure record;
    ASSERT_TRUE(proto::Decode(key.record, &record));
    EXPECT_EQ(key.id, record.id);
    ExpectClamped(record.private_key);
    // Operation 14 gives back what was generated.
    testing::Reply<PublicPreKey> part = Call<PublicPreKey>(14, key.record);
    ASSERT_EQ(0, part.action);
    EXPECT_EQ((PublicPreKey{key.id, key.public_key, {}}), part.value);
  }
  EXPECT_EQ(100u, distinct.size());
}

TEST(KeyMaterial, IdOverflowAndEmptyBatches) {
  GeneratedIdentityKeyPair identity = TestIdentity();
  testing::Reply<KeyList> last = Call<KeyList>(6, UINT32_MAX, uint32_t{1});
  ASSERT_EQ(0, last.action);
  ASSERT_EQ(1u, last.value.size());
  EXPECT_EQ(UINT32_MAX, last.value[0].id);

  const struct {
    const char* name;
    testing::Reply<KeyList> reply;
    const char* error;  // nullptr: an empty list
  } kCases[] = {
      {"one-time, past the last id", Call<KeyList>(6, UINT32_MAX, uint32_t{2}),
       "prekey id overflow"},
      {"one-time, far past", Call<KeyList>(6, uint32_t{10}, UINT32_MAX),
       "prekey id overflow"},
      {"Kyber, past the last id",
       Call<KeyList>(5, identity.key_pair, UINT32_MAX - 1, uint32_t{3}),
       "kyber prekey id overflow"},
      {"one-time, none", Call<KeyList>(6, UINT32_MAX, uint32_t{0}), nullptr},
      {"Kyber, none", Call<KeyList>(5, identity.key_pair, uint32_t{5}, uint32_t{0}),
       nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.error == nullptr) {
      ASSERT_EQ(0, c.reply.action);
      EXPECT_TRUE(c.reply.value.empty());
    } else {
      ASSERT_EQ(1, c.reply.action);
      EXPECT_EQ((EngineError{ErrorKind::InvalidArgument, c.error}), c.reply.error);
    }
  }

  // The identity key pair is read first, even for no keys at all.
  testing::Reply<KeyList> no_identity = Call<KeyList>(5, SecretBytes{}, uint32_t{0}, uint32_t{0});
  ASSERT_EQ(1, no_identity.action);
  EXPECT_EQ((EngineError{ErrorKind::InvalidKey, "no key type identifier"}),
            no_identity.error);
}

TEST(KeyMaterial, SignedPreKey) {
  GeneratedIdentityKeyPair identity = TestIdentity();
  uint64_t before = crypto::NowUnixMillis();
  testing::Reply<GeneratedPreKey> r = Call<GeneratedPreKey>(8, identity.key_pair, uint32_t{42});
  uint64_t after = crypto::NowUnixMillis();
  ASSERT_EQ(0, r.action) << r.error.message;
  EXPECT_EQ(42u, r.value.id);
  ASSERT_EQ(33u, r.value.public_key.size());
  ASSERT_EQ(64u, r.value.signature.size());
  EXPECT_TRUE(Verifies(identity.public_key, r.value.public_key, r.value.signature));
  // Over the encoded key, type byte included.
  Bytes bare(r.value.public_key.begin() + 1, r.value.public_key.end());
  EXPECT_FALSE(Verifies(identity.public_key, bare, r.value.signature));

  proto::SignedPreKeyRecordStructure record;
  ASSERT_TRUE(proto::Decode(r.value.record, &record));
  EXPECT_EQ(42u, record.id);
  EXPECT_EQ(r.value.signature, record.signature);
  ExpectClamped(record.private_key);
  EXPECT_GE(record.timestamp, before);
  EXPECT_LE(record.timestamp, after);

  testing::Reply<PublicPreKey> part = Call<PublicPreKey>(19, r.value.record);
  ASSERT_EQ(0, part.action);
  EXPECT_EQ((PublicPreKey{42, r.value.public_key, r.value.signature}), part.value);

  testing::Reply<GeneratedPreKey> bad = Call<GeneratedPreKey>(8, SecretBytes{0xff}, uint32_t{1});
  ASSERT_EQ(1, bad.action);
  EXPECT_EQ((EngineError{ErrorKind::InvalidMessage, "protobuf encoding was invalid"}),
            bad.error);
}

TEST(KeyMaterial, KyberPreKeys) {
  GeneratedIdentityKeyPair identity = TestIdentity();
  testing::Reply<KeyList> r = Call<KeyList>(5, identity.key_pair, uint32_t{7}, uint32_t{2});
  ASSERT_EQ(0, r.action) << r.error.message;
  ASSERT_EQ(2u, r.value.size());
  for (uint32_t i = 0; i < 2; i++) {
    const GeneratedPreKey& key = r.value[i];
    SCOPED_TRACE(key.id);
    EXPECT_EQ(7 + i, key.id);
    ASSERT_EQ(1569u, key.public_key.size());
    EXPECT_EQ(0x08, key.public_key[0]);
    EXPECT_TRUE(Verifies(identity.public_key, key.public_key, key.signature));
    proto::SignedPreKeyRecordStructure record;
    ASSERT_TRUE(proto::Decode(key.record, &record));
    EXPECT_EQ(key.id, record.id);
    EXPECT_EQ(3169u, record.private_key.size());
    EXPECT_EQ(0x08, record.private_key.data()[0]);
    EXPECT_NE(0u, record.timestamp);
    testing::Reply<PublicPreKey> part = Call<PublicPreKey>(13, key.record);
    ASSERT_EQ(0, part.action);
    EXPECT_EQ((PublicPreKey{key.id, key.public_key, key.signature}), part.value);
  }
  EXPECT_NE(r.value[0].public_key, r.value[1].public_key);
}

TEST(KeyMaterial, TimestampZeroIsLeftOut) {
  // A clock before 1970 reads as 0, and a zero timestamp is not written.
  GeneratedIdentityKeyPair identity = TestIdentity();
  crypto::SeededRng rng(2);
  Outcome<GeneratedPreKey> signed_key =
      keys::GenerateSignedPreKey(identity.key_pair, 3, 0, rng);
  ASSERT_TRUE(signed_key.ok());
  proto::SignedPreKeyRecordStructure record;
  ASSERT_TRUE(proto::Decode(signed_key.value().record, &record));
  EXPECT_EQ(0u, record.timestamp);
  EXPECT_EQ(proto::Encode(record), signed_key.value().record);
  // The last field is the signature: key 0x22, length 64, the signature.
  const SecretBytes& bytes = signed_key.value().record;
  ASSERT_GT(bytes.size(), 66u);
  EXPECT_EQ(0x22, bytes[bytes.size() - 66]);

  Outcome<std::vector<GeneratedPreKey>> kyber =
      keys::GenerateKyberPreKeys(identity.key_pair, 1, 1, 0, rng);
  ASSERT_TRUE(kyber.ok());
  ASSERT_TRUE(proto::Decode(kyber.value()[0].record, &record));
  EXPECT_EQ(0u, record.timestamp);
}

TEST(KeyMaterial, ReproducibleFromTheRandomSource) {
  auto run = [](uint64_t seed) {
    crypto::SeededRng rng(seed);
    GeneratedIdentityKeyPair identity = keys::GenerateIdentityKeyPair(rng);
    KeyList keys = keys::GeneratePreKeys(1, 3, rng).value();
    GeneratedPreKey signed_key =
        keys::GenerateSignedPreKey(identity.key_pair, 1, 1000, rng).value();
    return std::make_tuple(identity, keys, signed_key,
                           keys::GenerateRegistrationId(rng));
  };
  EXPECT_EQ(run(5), run(5));
  EXPECT_NE(std::get<0>(run(5)), std::get<0>(run(6)));
}

TEST(KeyMaterial, RegistrationIds) {
  testing::Reply<uint32_t> r = Call<uint32_t>(7);
  ASSERT_EQ(0, r.action);
  EXPECT_EQ(5u, r.bytes.size());

  crypto::SeededRng rng(3);
  uint32_t lowest = UINT32_MAX, highest = 0;
  for (int i = 0; i < 100000; i++) {
    uint32_t id = keys::GenerateRegistrationId(rng);
    lowest = std::min(lowest, id);
    highest = std::max(highest, id);
  }
  EXPECT_EQ(1u, lowest);       // reached, and never 0
  EXPECT_EQ(16380u, highest);  // reached, and never more
}

}  // namespace
}  // namespace velmo::api
