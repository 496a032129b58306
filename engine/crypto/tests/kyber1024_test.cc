#include "crypto/kyber1024.h"

#include <gtest/gtest.h>

#include "code_paths.h"
#include "vectors.h"

namespace velmo::crypto::kyber1024 {
namespace {

using test::Hex;
using Kyber1024Vectors = test::BothCodePaths;
using test::ToHex;

template <size_t N>
std::array<uint8_t, N> Fixed(const std::string& hex) {
  test::Bytes b = Hex(hex);
  EXPECT_EQ(b.size(), N);
  std::array<uint8_t, N> out{};
  std::copy_n(b.begin(), std::min(N, b.size()), out.begin());
  return out;
}

SecretKey SecretFromHex(const std::string& hex) {
  auto a = Fixed<kSecretKeyBytes>(hex);
  SecretKey sk;
  std::copy(a.begin(), a.end(), sk.bytes);
  return sk;
}

// All 100 round-3 known answers, from the DRBG draws (d, z, m) of each
// entry: key pair, encapsulation and decapsulation.
TEST_P(Kyber1024Vectors, RoundThreeKnownAnswers) {
  auto kat = test::ReadRsp("kyber1024_r3/PQCkemKAT_3168.rsp");
  auto draws = test::ReadRsp("kyber1024_r3/PQCkemKAT_3168.draws.txt");
  ASSERT_EQ(kat.size(), 100u);
  ASSERT_EQ(draws.size(), 100u);
  for (size_t i = 0; i < kat.size(); ++i) {
    SCOPED_TRACE(kat[i].at("count"));
    ASSERT_EQ(kat[i].at("count"), draws[i].at("count"));
    test::Bytes seed = Hex(draws[i].at("d")), z = Hex(draws[i].at("z"));
    seed.insert(seed.end(), z.begin(), z.end());
    KeyPair kp = KeyPairFromSeed(std::span<const uint8_t, 64>(seed.data(), 64));
    ASSERT_EQ(ToHex(kp.public_key), ToHex(Hex(kat[i].at("pk"))));
    ASSERT_EQ(ToHex(kp.secret_key), ToHex(Hex(kat[i].at("sk"))));
    auto m = Fixed<32>(draws[i].at("m"));
    Encapsulation enc = Encapsulate(kp.public_key, m);
    EXPECT_EQ(ToHex(enc.ciphertext), ToHex(Hex(kat[i].at("ct"))));
    EXPECT_EQ(ToHex(enc.shared_secret), ToHex(Hex(kat[i].at("ss"))));
    EXPECT_EQ(ToHex(Decapsulate(kp.secret_key, enc.ciphertext)),
              ToHex(Hex(kat[i].at("ss"))));
  }
}

TEST_P(Kyber1024Vectors, ImplicitRejection) {
  auto kat = test::ReadRsp("kyber1024_r3/PQCkemKAT_3168.rsp");
  auto doc = test::ReadJson("kyber1024_r3/kyber1024_r3_implicit_rejection.json");
  int n = 0;
  for (const auto& t : doc["tests"]) {
    const auto& entry = kat.at(t["katCount"].get<size_t>());
    SecretKey sk = SecretFromHex(entry.at("sk"));
    auto ct = Fixed<kCiphertextBytes>(t["ct"]);
    EXPECT_EQ(ToHex(Decapsulate(sk, ct)), ToHex(Hex(t["ss"]))) << t["tcId"];
    ++n;
  }
  EXPECT_EQ(n, 9);
}

TEST(Kyber1024, RandomisedRoundTripDrawsWhatItShould) {
  test::Bytes script(64 + 32, 0x21);
  ScriptedRng rng(script);
  KeyPair kp = GenerateKeyPair(rng);
  Encapsulation enc = Encapsulate(kp.public_key, rng);
  EXPECT_EQ(rng.remaining(), 0u);
  EXPECT_EQ(ToHex(Decapsulate(kp.secret_key, enc.ciphertext)), ToHex(enc.shared_secret));
  SeededRng other(1);
  Encapsulation again = Encapsulate(kp.public_key, other);
  EXPECT_NE(ToHex(again.ciphertext), ToHex(enc.ciphertext));
}

INSTANTIATE_TEST_SUITE_P(Paths, Kyber1024Vectors, ::testing::Bool(), test::PathName);

}  // namespace
}  // namespace velmo::crypto::kyber1024
