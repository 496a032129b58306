#include "crypto/mlkem768.h"

#include <gtest/gtest.h>

#include <sstream>

#include "crypto/keccak.h"
#include "code_paths.h"
#include "vectors.h"

namespace velmo::crypto::mlkem768 {
namespace {

using test::Hex;
using MlKem768Vectors = test::BothCodePaths;
using test::ToHex;

std::string H(const nlohmann::json& j) { return ToHex(Hex(j.get<std::string>())); }

TEST_P(MlKem768Vectors, AcvpKeyGen) {
  auto doc = test::ReadJson("mlkem768/acvp_ML-KEM-keyGen-FIPS203_768.json");
  int n = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      test::Bytes seed = Hex(t["d"]);
      test::Bytes z = Hex(t["z"]);
      seed.insert(seed.end(), z.begin(), z.end());
      auto kp = KeyGen(ByteView(seed));
      ASSERT_TRUE(kp);
      EXPECT_EQ(ToHex(kp->ek), H(t["ek"])) << t["tcId"];
      EXPECT_EQ(ToHex(kp->dk), H(t["dk"])) << t["tcId"];
      ++n;
    }
  }
  EXPECT_EQ(n, 25);
}

TEST_P(MlKem768Vectors, AcvpEncapDecapAndKeyChecks) {
  auto doc = test::ReadJson("mlkem768/acvp_ML-KEM-encapDecap-FIPS203_768.json");
  std::map<std::string, int> counts;
  for (const auto& g : doc["testGroups"]) {
    const std::string fn = g["function"];
    for (const auto& t : g["tests"]) {
      SCOPED_TRACE(fn + " " + std::to_string(t["tcId"].get<int>()));
      if (fn == "encapsulation") {
        auto enc = Encapsulate(Hex(t["ek"]), Hex(t["m"]));
        ASSERT_TRUE(enc);
        EXPECT_EQ(ToHex(enc->ciphertext), H(t["c"]));
        EXPECT_EQ(ToHex(enc->shared_secret), H(t["k"]));
      } else if (fn == "decapsulation") {
        test::Bytes dk = Hex(t["dk"]);
        if (g["keyFormat"] == "seed") {
          test::Bytes seed = Hex(t["d"]), z = Hex(t["z"]);
          seed.insert(seed.end(), z.begin(), z.end());
          auto kp = KeyGen(ByteView(seed));
          ASSERT_TRUE(kp);
          EXPECT_EQ(ToHex(kp->dk), ToHex(dk));
          dk.assign(kp->dk.bytes, kp->dk.bytes + kDecapsulationKeyBytes);
        }
        auto k = Decapsulate(ByteView(dk), Hex(t["c"]));
        ASSERT_TRUE(k);
        EXPECT_EQ(ToHex(*k), H(t["k"]));
      } else if (fn == "decapsulationKeyCheck") {
        test::Bytes dk = Hex(t["dk"]);
        EXPECT_EQ(CheckDecapsulationKey(dk),
                  t["testPassed"].get<bool>());
      } else if (fn == "encapsulationKeyCheck") {
        test::Bytes ek = Hex(t["ek"]);
        EXPECT_EQ(CheckEncapsulationKey(ek),
                  t["testPassed"].get<bool>());
      }
      ++counts[fn];
    }
  }
  EXPECT_EQ(counts["encapsulation"], 25);
  EXPECT_EQ(counts["decapsulation"], 20);
  EXPECT_EQ(counts["decapsulationKeyCheck"], 10);
  EXPECT_EQ(counts["encapsulationKeyCheck"], 10);
}

TEST_P(MlKem768Vectors, WycheproofKeyGenSeed) {
  auto doc = test::ReadJson("mlkem768/wycheproof_mlkem_768_keygen_seed_test.json");
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      auto kp = KeyGen(Hex(t["seed"]));
      ASSERT_TRUE(kp) << t["tcId"];
      EXPECT_EQ(ToHex(kp->ek), H(t["ek"])) << t["tcId"];
      EXPECT_EQ(ToHex(kp->dk), H(t["dk"])) << t["tcId"];
    }
  }
}

// Valid rows give c and K; invalid ones (unreduced keys, wrong lengths) are
// refused.
TEST_P(MlKem768Vectors, WycheproofEncaps) {
  auto doc = test::ReadJson("mlkem768/wycheproof_mlkem_768_encaps_test.json");
  int invalid = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      auto enc = Encapsulate(Hex(t["ek"]), Hex(t["m"]));
      if (t["result"] == "valid") {
        ASSERT_TRUE(enc) << t["tcId"];
        EXPECT_EQ(ToHex(enc->ciphertext), H(t["c"])) << t["tcId"];
        EXPECT_EQ(ToHex(enc->shared_secret), H(t["K"])) << t["tcId"];
      } else {
        EXPECT_FALSE(enc) << t["tcId"];
        ++invalid;
      }
    }
  }
  EXPECT_GT(invalid, 100);
}

// Key pair from the seed, then decapsulation (including the implicit
// rejection rows); invalid rows have a seed or ciphertext of the wrong size.
TEST_P(MlKem768Vectors, WycheproofDecaps) {
  auto doc = test::ReadJson("mlkem768/wycheproof_mlkem_768_test.json");
  int n = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      SCOPED_TRACE(t["tcId"].get<int>());
      auto kp = KeyGen(Hex(t["seed"]));
      std::optional<SharedSecret> k;
      if (kp) {
        if (t.contains("ek")) EXPECT_EQ(ToHex(kp->ek), H(t["ek"]));
        k = Decapsulate(ByteView(kp->dk), Hex(t["c"]));
      }
      if (t["result"] == "valid") {
        ASSERT_TRUE(k);
        EXPECT_EQ(ToHex(*k), H(t["K"]));
      } else {
        EXPECT_FALSE(k);
      }
      ++n;
    }
  }
  EXPECT_EQ(n, 193);
}

TEST_P(MlKem768Vectors, WycheproofSemiExpandedDecaps) {
  auto doc = test::ReadJson("mlkem768/wycheproof_mlkem_768_semi_expanded_decaps_test.json");
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      auto k = Decapsulate(Hex(t["dk"]), Hex(t["c"]));
      if (t["result"] == "valid") {
        ASSERT_TRUE(k) << t["tcId"];
        EXPECT_EQ(ToHex(*k), H(t["K"])) << t["tcId"];
      } else {
        EXPECT_FALSE(k) << t["tcId"];
      }
    }
  }
}

std::map<std::string, std::string> ReadKeyValues(const std::string& name) {
  std::map<std::string, std::string> kv;
  std::istringstream in(test::ReadText(name));
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find(" = ");
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 3);
  }
  return kv;
}

TEST_P(MlKem768Vectors, CctvStrcmpAndUnluckySample) {
  auto strcmp_case = ReadKeyValues("mlkem768/cctv_strcmp_ML-KEM-768.txt");
  auto k = Decapsulate(Hex(strcmp_case["dk"]), Hex(strcmp_case["c"]));
  ASSERT_TRUE(k);
  EXPECT_EQ(ToHex(*k), strcmp_case["K"]);

  auto u = ReadKeyValues("mlkem768/cctv_unluckysample_ML-KEM-768.txt");
  test::Bytes seed = Hex(u["d"]), z = Hex(u["z"]);
  seed.insert(seed.end(), z.begin(), z.end());
  auto kp = KeyGen(ByteView(seed));
  ASSERT_TRUE(kp);
  EXPECT_EQ(ToHex(kp->ek), u["ek"]);
  EXPECT_EQ(ToHex(kp->dk), u["dk"]);
  auto enc = Encapsulate(ByteView(kp->ek), Hex(u["m"]));
  ASSERT_TRUE(enc);
  EXPECT_EQ(ToHex(enc->ciphertext), u["c"]);
  EXPECT_EQ(ToHex(enc->shared_secret), u["K"]);
}

TEST(MlKem768, CctvModulusKeysAreRefused) {
  std::istringstream in(test::ReadText("mlkem768/cctv_modulus_ML-KEM-768.txt"));
  std::string line;
  int n = 0;
  const test::Bytes m(32, 0x42);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    test::Bytes ek = Hex(line);
    ASSERT_EQ(ek.size(), kEncapsulationKeyBytes);
    EXPECT_FALSE(Encapsulate(ByteView(ek), ByteView(m))) << n;
    ++n;
  }
  EXPECT_EQ(n, 780);
}

// CCTV's accumulated test: 10 000 key pairs, encapsulations, decapsulations
// and random-ciphertext rejections folded into one SHAKE-128 hash.
TEST(MlKem768, CctvAccumulated10000) {
  Shake128 rng, acc;
  for (int i = 0; i < 10000; ++i) {
    uint8_t seed[64], m[32], ct[kCiphertextBytes];
    rng.Squeeze(seed);
    rng.Squeeze(m);
    rng.Squeeze(ct);
    KeyPair kp = *KeyGen(seed);
    auto enc = Encapsulate(kp.ek, m);
    ASSERT_TRUE(enc);
    auto k = Decapsulate(kp.dk, enc->ciphertext);
    ASSERT_TRUE(k);
    ASSERT_EQ(ToHex(*k), ToHex(enc->shared_secret)) << i;
    auto rejected = Decapsulate(kp.dk, ct);
    ASSERT_TRUE(rejected);
    acc.Absorb(kp.ek);
    acc.Absorb(kp.dk);
    acc.Absorb(enc->ciphertext);
    acc.Absorb(enc->shared_secret);
    acc.Absorb(*rejected);
  }
  uint8_t digest[32];
  acc.Squeeze(digest);
  EXPECT_EQ(ToHex(digest, 32),
            "f959d18d3d1180121433bf0e05f11e7908cf9d03edc150b2b07cb90bef5bc1c1");
}

// The two split steps give the standard encapsulation byte for byte, from
// the header and vector as the decapsulation key lays them out, and agree
// with decapsulation.
TEST_P(MlKem768Vectors, SplitEncapsulationEqualsStandard) {
  SeededRng rng(768);
  for (int i = 0; i < 50; ++i) {
    KeyPair kp = GenerateKeyPair(rng);
    SecretArray<32> m;
    rng.Fill(m.bytes);
    ByteView dk = kp.dk;
    ByteView header = dk.subspan(kHeaderOffsetInDk, kHeaderBytes);
    ByteView vector = dk.subspan(kVectorOffsetInDk, kVectorBytes);
    ASSERT_EQ(ToHex(header), ToHex(HeaderOf(kp.ek)));
    ASSERT_EQ(ToHex(vector), ToHex(VectorOf(kp.ek)));
    ASSERT_TRUE(VectorMatchesHeader(vector, header));

    FirstStep one = *EncapsulateFirstStep(header, m);
    Ciphertext2 two = *EncapsulateSecondStep(one.state, vector);
    auto standard = Encapsulate(kp.ek, m);
    ASSERT_TRUE(standard);
    EXPECT_EQ(ToHex(one.ciphertext1),
              ToHex(ByteView(standard->ciphertext).first(kCiphertext1Bytes)));
    EXPECT_EQ(ToHex(two), ToHex(ByteView(standard->ciphertext).subspan(kCiphertext1Bytes)));
    EXPECT_EQ(ToHex(one.shared_secret), ToHex(standard->shared_secret));
    auto k = Decapsulate(kp.dk, standard->ciphertext);
    ASSERT_TRUE(k);
    EXPECT_EQ(ToHex(*k), ToHex(one.shared_secret));
  }
}

TEST(MlKem768, VectorThatDoesNotBelongToHeaderIsDetected) {
  SeededRng rng(1);
  KeyPair a = GenerateKeyPair(rng), b = GenerateKeyPair(rng);
  Header ha = HeaderOf(a.ek);
  test::Bytes va(VectorOf(a.ek).begin(), VectorOf(a.ek).end());
  test::Bytes vb(VectorOf(b.ek).begin(), VectorOf(b.ek).end());
  EXPECT_TRUE(VectorMatchesHeader(ByteView(va), ByteView(ha)));
  EXPECT_FALSE(VectorMatchesHeader(ByteView(vb), ByteView(ha)));  // another key's
  for (size_t at : {size_t{0}, size_t{577}, kVectorBytes - 1}) {
    test::Bytes v = va;
    v[at] ^= 0x01;
    EXPECT_FALSE(VectorMatchesHeader(ByteView(v), ByteView(ha))) << at;
  }
  Header other_rho = ha;
  other_rho[0] ^= 1;
  EXPECT_FALSE(VectorMatchesHeader(ByteView(va), ByteView(other_rho)));
  EXPECT_FALSE(VectorMatchesHeader(ByteView(va).first(1151), ByteView(ha)));

  // A coefficient of q (0xD01) whose header hash was recomputed to match:
  // refused by the modulus check alone.
  test::Bytes bad = va;
  bad[0] = 0x01;
  bad[1] = static_cast<uint8_t>((bad[1] & 0xF0) | 0x0D);
  Header forged = ha;
  Sha3_256Hasher h;
  h.Absorb(bad);
  h.Absorb(ByteView(ha).first(32));
  h.Squeeze(std::span<uint8_t>(forged.data() + 32, 32));
  EXPECT_FALSE(VectorMatchesHeader(ByteView(bad), ByteView(forged)));
}

TEST(MlKem768, WrongLengthsAreRefusedAndDamagedStateIsHarmless) {
  SeededRng rng(2);
  KeyPair kp = GenerateKeyPair(rng);
  test::Bytes m(32, 7);
  EXPECT_FALSE(EncapsulateFirstStep(ByteView(HeaderOf(kp.ek)).first(63), ByteView(m)));
  EXPECT_FALSE(EncapsulateSecondStep(ByteView(test::Bytes(2079)), ByteView(VectorOf(kp.ek))));
  EXPECT_FALSE(Decapsulate(ByteView(kp.dk), ByteView(test::Bytes(1087))));
  // A state of all 0xFF bytes still gives some ciphertext part 2.
  EXPECT_TRUE(EncapsulateSecondStep(ByteView(test::Bytes(2080, 0xFF)), ByteView(VectorOf(kp.ek))));
  // Key generation draws exactly 64 bytes.
  test::Bytes seed(64, 3);
  ScriptedRng scripted(seed);
  KeyPair from_rng = GenerateKeyPair(scripted);
  EXPECT_EQ(ToHex(from_rng.ek), ToHex(KeyGen(seed)->ek));
}

INSTANTIATE_TEST_SUITE_P(Paths, MlKem768Vectors, ::testing::Bool(), test::PathName);

}  // namespace
}  // namespace velmo::crypto::mlkem768
