#include "protocol/keys.h"

#include <gtest/gtest.h>

#include "protocol/records.h"
#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Pattern;
using testing::Unhex;
using testing::Vec;

TEST(Keys, PublicKeyReads) {
  const struct {
    const char* name;
    std::vector<uint8_t> in;
    const char* error;  // nullptr: reads
  } kCases[] = {
      {"33 bytes", Pattern(1, 32, 5), nullptr},
      {"34 bytes: the 34th is ignored", Pattern(1, 33, 5), nullptr},
      {"empty", {}, "no key type identifier"},
      {"type 0x07", Pattern(1, 32, 7), "bad key type <0x07>"},
      {"type 0xab", Pattern(1, 32, 0xab), "bad key type <0xab>"},
      {"32 bytes", Pattern(1, 31, 5), "bad key length <32> for key with type <Djb>"},
      {"type byte alone", {5}, "bad key length <1> for key with type <Djb>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<PublicKey> key = DecodePublicKey(c.in);
    if (c.error == nullptr) {
      ASSERT_TRUE(key.ok());
      EXPECT_EQ(Pattern(1, 32), Vec(key->u));
      EXPECT_EQ(Pattern(1, 32, 5), Vec(key->Serialize()));
    } else {
      ASSERT_FALSE(key.ok());
      EXPECT_EQ(c.error, key.error().message);
    }
  }
}

TEST(Keys, PrivateKeysAreClampedOnReading) {
  std::vector<uint8_t> raw(32, 0xff);
  Result<PrivateKey> key = DecodePrivateKey(raw);
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(0xf8, key->data()[0]);
  EXPECT_EQ(0x7f, key->data()[31]);
  raw.assign(32, 0);
  EXPECT_EQ(0x40, DecodePrivateKey(raw)->data()[31]);

  for (size_t n : {0, 31, 33}) {
    SCOPED_TRACE(n);
    Result<PrivateKey> bad = DecodePrivateKey(Pattern(0, n));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(ErrorCode::kBadKeyLength, bad.error().code);
    EXPECT_EQ("bad key length <" + std::to_string(n) +
                  "> for key with type <Djb>",
              bad.error().message);
  }
}

TEST(Keys, KyberKeyReads) {
  const struct {
    const char* name;
    std::vector<uint8_t> in;
    bool secret;
    const char* error;
    ErrorCode code;
  } kCases[] = {
      {"public key", Pattern(0, 1568, 8), false, nullptr, ErrorCode::kOther},
      {"secret key", Pattern(0, 3168, 8), true, nullptr, ErrorCode::kOther},
      {"empty", {}, false, "no key type identifier", ErrorCode::kNoKeyTypeIdentifier},
      {"type 0x05", Pattern(0, 1568, 5), false, "bad KEM key type <0x05>",
       ErrorCode::kBadKemKeyType},
      {"1570 bytes", Pattern(0, 1569, 8), false,
       "bad KEM key length <1570> for key with type <Kyber1024>",
       ErrorCode::kBadKemKeyLength},
      {"public key read as secret", Pattern(0, 1568, 8), true,
       "bad KEM key length <1569> for key with type <Kyber1024>",
       ErrorCode::kBadKemKeyLength},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Status s = c.secret ? [&]() -> Status {
      auto r = DecodeKyberSecretKey(c.in);
      return r.ok() ? Status::Ok() : Status(r.error());
    }()
                        : [&]() -> Status {
      auto r = DecodeKyberPublicKey(c.in);
      if (r.ok()) EXPECT_EQ(c.in, r->Serialize());
      return r.ok() ? Status::Ok() : Status(r.error());
    }();
    if (c.error == nullptr) {
      EXPECT_TRUE(s.ok());
    } else {
      ASSERT_FALSE(s.ok());
      EXPECT_EQ(c.error, s.error().message);
      EXPECT_EQ(c.code, s.error().code);
    }
  }
}

TEST(Keys, IdentityKeyPairRecord) {
  IdentityKeyPair pair;
  pair.public_key.u[0] = 9;
  std::fill(pair.private_key.data(), pair.private_key.data() + 32, 0x11);
  Clamp(pair.private_key.data());
  SecretBytes bytes = SerializeIdentityKeyPair(pair);
  Result<IdentityKeyPair> read = ReadIdentityKeyPair(bytes);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(pair.public_key, read->public_key);
  EXPECT_EQ(Vec(pair.private_key), Vec(read->private_key));

  Result<IdentityKeyPair> empty = ReadIdentityKeyPair({});
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ("no key type identifier", empty.error().message);
  Result<IdentityKeyPair> garbage = ReadIdentityKeyPair(Unhex("ff"));
  ASSERT_FALSE(garbage.ok());
  EXPECT_EQ("protobuf encoding was invalid", garbage.error().message);
  IdentityKeyPairStructure only_public;
  only_public.public_key.assign(Pattern(0, 32, 5));
  Result<IdentityKeyPair> no_private = ReadIdentityKeyPair(Encode(only_public));
  ASSERT_FALSE(no_private.ok());
  EXPECT_EQ("bad key length <0> for key with type <Djb>",
            no_private.error().message);
}

}  // namespace
}  // namespace velmo::proto
