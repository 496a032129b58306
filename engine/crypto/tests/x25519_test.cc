#include "crypto/x25519.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::Hex;
using test::ToHex;

std::span<const uint8_t, 32> Fixed(const test::Bytes& b) {
  return std::span<const uint8_t, 32>(b.data(), 32);
}

// Policy for the rows Wycheproof calls "acceptable": an all-zero product is
// reported as a failure, and that must happen for exactly the rows flagged
// ZeroSharedSecret (the low-order points); every other row must match.
TEST(X25519, Wycheproof) {
  auto doc = test::ReadJson("x25519/wycheproof_x25519_test.json");
  int zero_rows = 0, checked = 0;
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      auto flags = t["flags"].get<std::vector<std::string>>();
      bool zero = std::count(flags.begin(), flags.end(), "ZeroSharedSecret") > 0;
      auto priv = Hex(t["private"]), pub = Hex(t["public"]);
      std::array<uint8_t, 32> out;
      bool ok = X25519(out, Fixed(priv), Fixed(pub));
      EXPECT_EQ(ok, !zero) << t["tcId"];
      EXPECT_EQ(ToHex(out), t["shared"].get<std::string>()) << t["tcId"];
      // Through the key types, which clamp on construction: same result.
      std::array<uint8_t, 32> agreed;
      EXPECT_EQ(PrivateKey(Fixed(priv)).Agree(PublicKey(Fixed(pub)), agreed), !zero);
      EXPECT_EQ(ToHex(agreed), t["shared"].get<std::string>()) << t["tcId"];
      zero_rows += zero;
      ++checked;
    }
  }
  EXPECT_EQ(zero_rows, 31);
  EXPECT_EQ(checked, 518);
}

TEST(X25519, Rfc7748) {
  auto doc = test::ReadJson("x25519/rfc7748_x25519.json");
  for (const auto& t : doc["scalarMultiplication"]["tests"]) {
    std::array<uint8_t, 32> out;
    auto k = Hex(t["scalar"]), u = Hex(t["u"]);
    ASSERT_TRUE(X25519(out, Fixed(k), Fixed(u)));
    EXPECT_EQ(ToHex(out), t["output"].get<std::string>());
  }

  // The million-iteration row takes half a minute; run it on request.
  const auto& after = doc["iterated"]["after"];
  const int last = std::getenv("VELMO_SLOW_VECTORS") ? 1000000 : 1000;
  test::Bytes k = Hex(doc["iterated"]["start"]), u = k;
  for (int i = 1; i <= last; ++i) {
    std::array<uint8_t, 32> out;
    ASSERT_TRUE(X25519(out, Fixed(k), Fixed(u)));
    u = k;
    k.assign(out.begin(), out.end());
    if (after.contains(std::to_string(i))) {
      EXPECT_EQ(ToHex(k), after[std::to_string(i)].get<std::string>()) << i;
    }
  }

  const auto& dh = doc["diffieHellman"];
  PrivateKey alice(Fixed(Hex(dh["alicePrivate"]))), bob(Fixed(Hex(dh["bobPrivate"])));
  EXPECT_EQ(ToHex(alice.GetPublicKey().bytes()), dh["alicePublic"].get<std::string>());
  EXPECT_EQ(ToHex(bob.GetPublicKey().bytes()), dh["bobPublic"].get<std::string>());
  std::array<uint8_t, 32> s1, s2;
  ASSERT_TRUE(alice.Agree(bob.GetPublicKey(), s1));
  ASSERT_TRUE(bob.Agree(alice.GetPublicKey(), s2));
  EXPECT_EQ(ToHex(s1), dh["shared"].get<std::string>());
  EXPECT_EQ(s1, s2);
}

// The public key comes from the Edwards base multiplication and a change of
// coordinates; it must equal the ladder's X25519(k, 9) for every key.
TEST(X25519, PublicKeyEqualsLadderFromBasePoint) {
  SeededRng rng(7);
  uint8_t nine[32] = {9};
  for (int i = 0; i < 200; ++i) {
    KeyPair pair = KeyPair::Generate(rng);
    std::array<uint8_t, 32> ladder;
    ASSERT_TRUE(X25519(ladder, pair.private_key.bytes(), std::span<const uint8_t, 32>(nine)));
    ASSERT_EQ(ToHex(pair.public_key.bytes()), ToHex(ladder)) << i;
  }
}

TEST(X25519, GeneratedKeysAreClampedAndStoredClamped) {
  test::Bytes ones(32, 0xFF), zeros(32, 0);
  ScriptedRng rng(ones);
  PrivateKey k = PrivateKey::Generate(rng);
  EXPECT_EQ(k.bytes()[0], 0xF8);
  EXPECT_EQ(k.bytes()[31], 0x7F);
  EXPECT_EQ(PrivateKey(Fixed(zeros)).bytes()[31], 0x40);
  EXPECT_EQ(rng.remaining(), 0u);  // exactly 32 bytes drawn

  // Clamping equivalent scalars gives the same key pair.
  test::Bytes a = Hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
  test::Bytes b = a;
  b[0] |= 7;
  b[31] |= 0x80;
  EXPECT_EQ(PrivateKey(Fixed(a)).GetPublicKey(), PrivateKey(Fixed(b)).GetPublicKey());
}

TEST(X25519, PublicKeyEncodingAndEquality) {
  test::Bytes u(32, 0xAB);
  PublicKey key(Fixed(u));
  auto enc = key.Encode();
  EXPECT_EQ(enc[0], 0x05);
  EXPECT_EQ(ToHex(ByteView(enc).subspan(1)), ToHex(u));
  test::Bytes v = u;
  v[31] ^= 1;
  EXPECT_TRUE(key.Equals(PublicKey(Fixed(u))));
  EXPECT_FALSE(key.Equals(PublicKey(Fixed(v))));
}

}  // namespace
}  // namespace velmo::crypto
