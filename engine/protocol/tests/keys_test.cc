#include "protocol/keys.h"

#include <gtest/gtest.h>

#include "protocol/records.h"
#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Pattern;
using testing::Unhex;
using testing::Vec;
using testing::operator+;

// The key readers keep the primitive layer's texts and give each failure the
// session-layer error number that decides its kind.
TEST(Keys, ReadFailuresBecomeSessionErrors) {
  auto status = [](const auto& r) {
    return r.ok() ? Status::Ok() : Status(r.error());
  };
  const struct {
    const char* name;
    Status got;
    ErrorCode code;
    const char* text;
  } kCases[] = {
      {"empty public key", status(DecodePublicKey({})),
       ErrorCode::kNoKeyTypeIdentifier, "no key type identifier"},
      {"public key type 0x07", status(DecodePublicKey(Pattern(1, 32, 7))),
       ErrorCode::kBadKeyType, "bad key type <0x07>"},
      {"public key of 32 bytes", status(DecodePublicKey(Pattern(1, 31, 5))),
       ErrorCode::kBadKeyLength, "bad key length <32> for key with type <Djb>"},
      {"private key of 31 bytes", status(DecodePrivateKey(Pattern(1, 31))),
       ErrorCode::kBadKeyLength, "bad key length <31> for key with type <Djb>"},
      {"Kyber key type 0x05", status(DecodeKyberPublicKey(Pattern(0, 1568, 5))),
       ErrorCode::kBadKemKeyType, "bad KEM key type <0x05>"},
      {"Kyber key of 1570 bytes",
       status(DecodeKyberPublicKey(Pattern(0, 1569, 8))),
       ErrorCode::kBadKemKeyLength,
       "bad KEM key length <1570> for key with type <Kyber1024>"},
      {"Kyber secret key of 1569 bytes",
       status(DecodeKyberSecretKey(Pattern(0, 1568, 8))),
       ErrorCode::kBadKemKeyLength,
       "bad KEM key length <1569> for key with type <Kyber1024>"},
      {"Kyber ciphertext of 9 bytes",
       status(DecodeKyberCiphertext(Pattern(0, 8, 8))),
       ErrorCode::kBadKemCiphertextLength,
       "bad KEM ciphertext length <9> for key with type <Kyber1024>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.got.ok());
    EXPECT_EQ(c.code, c.got.error().code);
    EXPECT_EQ(c.text, c.got.error().message);
  }
}

TEST(Keys, PublicKeyOf34BytesReadsItsFirst33) {
  Result<PublicKey> key = DecodePublicKey(Pattern(1, 33, 5));
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(Pattern(1, 32, 5), Vec(key->Encode()));
}

TEST(Keys, IdentityKeyPairRecord) {
  std::vector<uint8_t> scalar(32, 0xff);
  IdentityKeyPair pair{DecodePublicKey(Pattern(9, 32, 5)).value(),
                       PrivateKey(std::span<const uint8_t, 32>(scalar.data(), 32))};
  SecretBytes bytes = SerializeIdentityKeyPair(pair);
  Result<IdentityKeyPair> read = ReadIdentityKeyPair(bytes);
  ASSERT_TRUE(read.ok());
  EXPECT_TRUE(pair.public_key.Equals(read->public_key));
  EXPECT_EQ(Vec(pair.private_key.bytes()), Vec(read->private_key.bytes()));
  // The public key is the stored one, not one derived from the private key.
  EXPECT_EQ(Pattern(9, 32), Vec(read->public_key.bytes()));

  // A stored private key is clamped on reading.
  IdentityKeyPairStructure raw;
  raw.public_key.assign(Pattern(9, 32, 5));
  raw.private_key.assign(scalar);
  Result<IdentityKeyPair> clamped = ReadIdentityKeyPair(Encode(raw));
  ASSERT_TRUE(clamped.ok());
  EXPECT_EQ(0xf8, clamped->private_key.bytes()[0]);
  EXPECT_EQ(0x7f, clamped->private_key.bytes()[31]);

  const struct {
    const char* name;
    std::vector<uint8_t> in;
    const char* text;
  } kCases[] = {
      {"empty record", {}, "no key type identifier"},
      {"not a record", Unhex("ff"), "protobuf encoding was invalid"},
      {"no private key", Unhex("0a 21") + Pattern(9, 32, 5),
       "bad key length <0> for key with type <Djb>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<IdentityKeyPair> bad = ReadIdentityKeyPair(c.in);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(c.text, bad.error().message);
  }
}

}  // namespace
}  // namespace velmo::proto
