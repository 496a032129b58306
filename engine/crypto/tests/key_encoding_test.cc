#include "crypto/key_encoding.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::ToHex;

test::Bytes Typed(uint8_t type, size_t total) {
  test::Bytes b(total, 0x11);
  if (total > 0) b[0] = type;
  return b;
}

template <class T>
void ExpectError(const KeyResult<T>& r, KeyErrorCode code, const std::string& text) {
  ASSERT_FALSE(r.ok()) << text;
  EXPECT_EQ(r.error().code, code) << text;
  EXPECT_EQ(r.error().message, text);
}

TEST(KeyEncoding, PublicKeyReadErrors) {
  ExpectError(ReadPublicKey({}), KeyErrorCode::kNoKeyTypeIdentifier,
              "no key type identifier");
  ExpectError(ReadPublicKey(Typed(0x07, 33)), KeyErrorCode::kBadKeyType,
              "bad key type <0x07>");
  ExpectError(ReadPublicKey(Typed(0xAB, 1)), KeyErrorCode::kBadKeyType,
              "bad key type <0xab>");
  ExpectError(ReadPublicKey(Typed(0x05, 32)), KeyErrorCode::kBadKeyLength,
              "bad key length <32> for key with type <Djb>");
  ExpectError(ReadPublicKey(Typed(0x05, 1)), KeyErrorCode::kBadKeyLength,
              "bad key length <1> for key with type <Djb>");
}

TEST(KeyEncoding, PublicKeyReadsFirst33BytesAndRoundTrips) {
  test::Bytes enc(34);
  enc[0] = 0x05;
  for (size_t i = 1; i < enc.size(); ++i) enc[i] = static_cast<uint8_t>(i);
  auto r = ReadPublicKey(enc);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(ToHex(r.value().bytes()), ToHex(ByteView(enc).subspan(1, 32)));
  auto again = r.value().Encode();
  EXPECT_EQ(ToHex(again), ToHex(ByteView(enc).first(33)));
}

TEST(KeyEncoding, PrivateKeyNeedsExactly32BytesAndIsClamped) {
  ExpectError(ReadPrivateKey(test::Bytes(31)), KeyErrorCode::kBadKeyLength,
              "bad key length <31> for key with type <Djb>");
  ExpectError(ReadPrivateKey(test::Bytes(33)), KeyErrorCode::kBadKeyLength,
              "bad key length <33> for key with type <Djb>");
  ExpectError(ReadPrivateKey({}), KeyErrorCode::kBadKeyLength,
              "bad key length <0> for key with type <Djb>");
  auto r = ReadPrivateKey(test::Bytes(32, 0xFF));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().bytes()[0], 0xF8);
  EXPECT_EQ(r.value().bytes()[31], 0x7F);
}

TEST(KeyEncoding, KyberReadErrors) {
  ExpectError(ReadKyberPublicKey({}), KeyErrorCode::kNoKeyTypeIdentifier,
              "no key type identifier");
  ExpectError(ReadKyberPublicKey(Typed(0x05, 1569)), KeyErrorCode::kBadKemKeyType,
              "bad KEM key type <0x05>");
  ExpectError(ReadKyberPublicKey(Typed(0x08, 1570)), KeyErrorCode::kBadKemKeyLength,
              "bad KEM key length <1570> for key with type <Kyber1024>");
  ExpectError(ReadKyberPublicKey(Typed(0x08, 1568)), KeyErrorCode::kBadKemKeyLength,
              "bad KEM key length <1568> for key with type <Kyber1024>");
  ExpectError(ReadKyberSecretKey(Typed(0x08, 3168)), KeyErrorCode::kBadKemKeyLength,
              "bad KEM key length <3168> for key with type <Kyber1024>");
  ExpectError(ReadKyberSecretKey(Typed(0x00, 3169)), KeyErrorCode::kBadKemKeyType,
              "bad KEM key type <0x00>");
  ExpectError(ReadKyberCiphertext({}), KeyErrorCode::kNoKeyTypeIdentifier,
              "no key type identifier");
  ExpectError(ReadKyberCiphertext(Typed(0x05, 1569)), KeyErrorCode::kBadKemKeyType,
              "bad KEM key type <0x05>");
  ExpectError(ReadKyberCiphertext(Typed(0x08, 9)), KeyErrorCode::kBadKemCiphertextLength,
              "bad KEM ciphertext length <9> for key with type <Kyber1024>");
}

TEST(KeyEncoding, KyberRoundTrips) {
  test::Bytes pk = Typed(0x08, 1569), sk = Typed(0x08, 3169), ct = Typed(0x08, 1569);
  pk[1568] = 0x77;
  sk[3168] = 0x66;
  auto p = ReadKyberPublicKey(pk);
  auto s = ReadKyberSecretKey(sk);
  auto c = ReadKyberCiphertext(ct);
  ASSERT_TRUE(p.ok() && s.ok() && c.ok());
  EXPECT_EQ(EncodeKyberPublicKey(p.value()), pk);
  SecretBytes sk_again = EncodeKyberSecretKey(s.value());
  EXPECT_EQ(test::Bytes(sk_again.begin(), sk_again.end()), sk);
  EXPECT_EQ(EncodeKyberCiphertext(c.value()), ct);
}

}  // namespace
}  // namespace velmo::crypto
