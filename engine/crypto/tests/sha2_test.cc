#include "crypto/sha2.h"

#include <gtest/gtest.h>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::Hex;
using test::ToHex;

TEST(Sha2, NistShortMessages) {
  struct File {
    const char* name;
    std::string (*hash)(const test::Bytes&);
  };
  const File files[] = {
      {"sha/nist_cavp_SHA256ShortMsg.rsp",
       [](const test::Bytes& m) { return ToHex(Sha256(m)); }},
      {"sha/nist_cavp_SHA512ShortMsg.rsp",
       [](const test::Bytes& m) { return ToHex(Sha512(m)); }},
  };
  for (const File& f : files) {
    auto blocks = test::ReadRsp(f.name);
    ASSERT_GT(blocks.size(), 60u) << f.name;
    for (const auto& b : blocks) {
      test::Bytes msg = Hex(b.at("Msg"));
      msg.resize(std::stoul(b.at("Len")) / 8);  // "Msg = 00" for Len = 0
      EXPECT_EQ(f.hash(msg), b.at("MD")) << f.name << " Len=" << b.at("Len");
    }
  }
}

// Pieces of every size, and a copied hasher continuing a shared prefix, give
// the one-shot digest.
TEST(Sha2, IncrementalAndForkedMatchOneShot) {
  test::Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  for (size_t split : {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 300}) {
    Sha256Hasher h256;
    Sha512Hasher h512;
    h256.Update(ByteView(data).first(split));
    h512.Update(ByteView(data).first(split));
    Sha256Hasher fork256 = h256;
    h256.Update(ByteView(data).subspan(split));
    h512.Update(ByteView(data).subspan(split));
    Sha256Digest d256;
    Sha512Digest d512;
    h256.Final(d256);
    h512.Final(d512);
    EXPECT_EQ(d256, Sha256(data)) << split;
    EXPECT_EQ(d512, Sha512(data)) << split;
    fork256.Update(ByteView(data).first(10));
    fork256.Final(d256);
    test::Bytes prefix(data.begin(), data.begin() + split);
    prefix.insert(prefix.end(), data.begin(), data.begin() + 10);
    EXPECT_EQ(d256, Sha256(prefix)) << split;
  }
}

}  // namespace
}  // namespace velmo::crypto
