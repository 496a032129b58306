#include <gtest/gtest.h>

#include "crypto/hkdf.h"
#include "crypto/hmac.h"
#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::Hex;
using test::ToHex;

TEST(Hmac, Rfc4231Sha256AndSha512) {
  for (const auto& b : test::ReadRsp("hmac/rfc4231_hmac_sha256.txt")) {
    auto key = Hex(b.at("Key")), msg = Hex(b.at("Msg"));
    EXPECT_EQ(ToHex(HmacSha256Mac(key, msg)), b.at("MD")) << b.at("Len");
    EXPECT_EQ(ToHex(HmacSha256Key(key).Mac(msg)), b.at("MD")) << b.at("Len");
  }
  auto blocks = test::ReadRsp("hmac/rfc4231_hmac_sha512.txt");
  ASSERT_EQ(blocks.size(), 6u);
  for (const auto& b : blocks) {
    EXPECT_EQ(ToHex(HmacSha512Mac(Hex(b.at("Key")), Hex(b.at("Msg")))),
              b.at("MD"))
        << b.at("Len");
  }
}

// Valid rows must match on the tag's length; invalid rows (modified tags)
// must not.
TEST(Hmac, Wycheproof) {
  auto doc = test::ReadJson("hmac/wycheproof_hmac_sha256_test.json");
  int checked = 0;
  for (const auto& g : doc["testGroups"]) {
    size_t tag_len = g["tagSize"].get<size_t>() / 8;
    for (const auto& t : g["tests"]) {
      auto tag = Hex(t["tag"]);
      ASSERT_EQ(tag.size(), tag_len);
      auto mac = HmacSha256Mac(Hex(t["key"]), Hex(t["msg"]));
      bool match = ct_equal(ByteView(mac).first(tag_len), tag);
      EXPECT_EQ(match, t["result"] == "valid") << t["tcId"];
      ++checked;
    }
  }
  EXPECT_EQ(checked, doc["numberOfTests"].get<int>());
}

// One keyed state serves many MACs, and data in pieces gives the same MAC.
TEST(Hmac, KeyedStateIsReusableAndStreamingMatches) {
  const test::Bytes key = Hex("000102030405060708090a0b0c0d0e0f");
  const HmacSha256Key keyed(key);
  test::Bytes data;
  for (int len = 0; len < 200; len += 13) {
    data.resize(len, static_cast<uint8_t>(len));
    auto want = HmacSha256Mac(key, data);
    EXPECT_EQ(ToHex(keyed.Mac(data)), ToHex(want)) << len;
    HmacSha256 stream(keyed);
    stream.Update(ByteView(data).first(len / 3));
    stream.Update(ByteView(data).subspan(len / 3));
    EXPECT_EQ(ToHex(stream.Finish()), ToHex(want)) << len;
  }
}

TEST(Hkdf, Rfc5869) {
  auto blocks = test::ReadRsp("hkdf/rfc5869_hkdf_sha256.txt");
  ASSERT_EQ(blocks.size(), 3u);
  for (const auto& b : blocks) {
    auto ikm = Hex(b.at("IKM")), salt = Hex(b.at("salt")), info = Hex(b.at("info"));
    EXPECT_EQ(ToHex(HkdfSha256Extract(salt, ikm)), b.at("PRK"));
    test::Bytes okm(std::stoul(b.at("L")));
    ASSERT_TRUE(HkdfSha256(okm, salt, ikm, info));
    EXPECT_EQ(ToHex(okm), b.at("OKM")) << b.at("COUNT");
  }
}

// Valid rows match; the invalid rows ask for more than 255 blocks and must
// be refused without output.
TEST(Hkdf, Wycheproof) {
  auto doc = test::ReadJson("hkdf/wycheproof_hkdf_sha256_test.json");
  int invalid = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      test::Bytes okm(t["size"].get<size_t>(), 0xAA);
      bool ok = HkdfSha256(okm, Hex(t["salt"]), Hex(t["ikm"]), Hex(t["info"]));
      if (t["result"] == "valid") {
        ASSERT_TRUE(ok) << t["tcId"];
        EXPECT_EQ(ToHex(okm), t["okm"].get<std::string>()) << t["tcId"];
      } else {
        EXPECT_FALSE(ok) << t["tcId"];
        EXPECT_EQ(okm, test::Bytes(okm.size(), 0xAA)) << t["tcId"];
        ++invalid;
      }
    }
  }
  EXPECT_GT(invalid, 0);
}

TEST(Hkdf, FixedLengthFormAndZeroSalt) {
  const test::Bytes ikm(32, 0x42);
  auto fixed = HkdfSha256<96>({}, ikm, ByteView());
  test::Bytes spanned(96);
  ASSERT_TRUE(HkdfSha256(spanned, test::Bytes(32, 0), ikm, ByteView()));
  EXPECT_EQ(ToHex(fixed), ToHex(spanned));  // empty salt = 32 zero bytes
  test::Bytes max(kHkdfSha256MaxBytes);
  EXPECT_TRUE(HkdfSha256(max, {}, ikm, {}));
}

}  // namespace
}  // namespace velmo::crypto
