#include "crypto/aes_cbc.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::Hex;
using test::ToHex;

// The NIST files are whole blocks without padding: they check the block
// cipher and the chaining in both directions.
TEST(AesCbc, NistResponseFilesWithoutPadding) {
  const char* files[] = {
      "aes/nist_cavp_CBCGFSbox256.rsp", "aes/nist_cavp_CBCKeySbox256.rsp",
      "aes/nist_cavp_CBCVarKey256.rsp", "aes/nist_cavp_CBCVarTxt256.rsp",
      "aes/nist_cavp_CBCMMT256.rsp"};
  int checked = 0;
  for (const char* f : files) {
    for (const auto& b : test::ReadRsp(f)) {
      auto key = Hex(b.at("KEY")), iv = Hex(b.at("IV"));
      auto pt = Hex(b.at("PLAINTEXT")), ct = Hex(b.at("CIPHERTEXT"));
      if (b.section == "[ENCRYPT]") {
        EXPECT_EQ(ToHex(Aes256CbcEncrypt(key, iv, pt, CbcPadding::kNone)),
                  ToHex(ct))
            << f << " " << b.at("COUNT");
      } else {
        auto got = Aes256CbcDecrypt(key, iv, ct, CbcPadding::kNone);
        ASSERT_TRUE(got) << f << " " << b.at("COUNT");
        EXPECT_EQ(ToHex(*got), ToHex(pt)) << f << " " << b.at("COUNT");
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 500);
}

// Valid rows encrypt to `ct` and decrypt back; invalid rows (bad or missing
// padding) are refused on decryption.
TEST(AesCbc, WycheproofPkcs7) {
  auto doc = test::ReadJson("aes/wycheproof_aes_cbc_pkcs5_256_test.json");
  int checked = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      auto key = Hex(t["key"]), iv = Hex(t["iv"]);
      auto msg = Hex(t["msg"]), ct = Hex(t["ct"]);
      auto dec = Aes256CbcDecrypt(key, iv, ct);
      if (t["result"] == "valid") {
        EXPECT_EQ(ToHex(Aes256CbcEncrypt(key, iv, msg)), ToHex(ct)) << t["tcId"];
        ASSERT_TRUE(dec) << t["tcId"];
        EXPECT_EQ(ToHex(*dec), ToHex(msg)) << t["tcId"];
      } else {
        EXPECT_FALSE(dec) << t["tcId"];
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, doc["numberOfTests"].get<int>());
}

TEST(AesCbc, RefusesMalformedInput) {
  const test::Bytes key(32, 1), iv(16, 2);
  EXPECT_FALSE(Aes256CbcDecrypt(key, iv, {}));
  EXPECT_FALSE(Aes256CbcDecrypt(key, iv, test::Bytes(17)));
  EXPECT_EQ(Aes256CbcEncrypt(key, iv, {}).size(), 16u);  // one block of padding
  EXPECT_THROW(Aes256CbcEncrypt(test::Bytes(16), iv, {}), std::invalid_argument);
  EXPECT_THROW(Aes256CbcDecrypt(key, test::Bytes(15), test::Bytes(16)),
               std::invalid_argument);
  EXPECT_THROW(Aes256CbcEncrypt(key, iv, test::Bytes(5), CbcPadding::kNone),
               std::invalid_argument);
}

TEST(AesCbc, IntoCallerBuffer) {
  const test::Bytes key(32, 3), iv(16, 4), pt(37, 5);
  test::Bytes buf(pt.size() + 16);
  size_t n = Aes256CbcEncryptInto(buf, key, iv, pt);
  EXPECT_EQ(ToHex(buf.data(), n), ToHex(Aes256CbcEncrypt(key, iv, pt)));
  test::Bytes plain(n + 16);
  auto m = Aes256CbcDecryptInto(plain, key, iv, ByteView(buf).first(n));
  ASSERT_TRUE(m);
  EXPECT_EQ(ToHex(plain.data(), *m), ToHex(pt));
  test::Bytes small(pt.size() + 15);
  EXPECT_THROW(Aes256CbcEncryptInto(small, key, iv, pt), std::invalid_argument);
  EXPECT_THROW(Aes256CbcDecryptInto(small, key, iv, ByteView(buf).first(n)),
               std::invalid_argument);
}

}  // namespace
}  // namespace velmo::crypto
