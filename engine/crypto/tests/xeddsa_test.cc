#include "crypto/xeddsa.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "crypto/fe25519.h"
#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::Hex;
using test::ToHex;

// An independent check: an XEdDSA signature with the sign bit moved into the
// key is an ordinary Ed25519 signature, which OpenSSL verifies.
bool OpenSslAcceptsAsEd25519(const PublicKey& key, ByteView msg, Signature sig) {
  using namespace internal;
  Fe u = FeFromBytes(key.bytes().data());
  uint8_t a[32];
  FeToBytes(a, FeMul(FeSub(u, FeOne()), FeInvert(FeAdd(u, FeOne()))));
  a[31] |= sig[63] & 0x80;
  sig[63] &= 0x7F;
  EVP_PKEY* pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, a, 32);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = pkey && ctx &&
            EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, pkey) == 1 &&
            EVP_DigestVerify(ctx, sig.data(), 64, msg.data(), msg.size()) == 1;
  EVP_MD_CTX_free(ctx);
  EVP_PKEY_free(pkey);
  return ok;
}

struct Signed {
  KeyPair pair;
  test::Bytes msg;
  Signature sig;
};

// Keys of both sign bits, found by drawing until each has appeared.
std::vector<Signed> SignedByBothSigns() {
  SeededRng rng(42);
  std::vector<Signed> out;
  bool seen[2] = {false, false};
  for (int i = 0; i < 64 && !(seen[0] && seen[1]); ++i) {
    KeyPair pair = KeyPair::Generate(rng);
    test::Bytes msg(33 + i, static_cast<uint8_t>(i));
    Signature sig = XEdDsaSign(pair.private_key, msg, rng);
    int sign = sig[63] >> 7;
    if (!seen[sign]) {
      seen[sign] = true;
      out.push_back({std::move(pair), msg, sig});
    }
  }
  return out;
}

TEST(XEdDsa, VerifiesForBothSignBitsAndAsEd25519) {
  auto cases = SignedByBothSigns();
  ASSERT_EQ(cases.size(), 2u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sig[63] >> 7);
    EXPECT_TRUE(XEdDsaVerify(c.pair.public_key, c.msg, c.sig));
    EXPECT_TRUE(OpenSslAcceptsAsEd25519(c.pair.public_key, c.msg, c.sig));
  }
}

// Take a valid signature, change one thing, expect false.
TEST(XEdDsa, EachRuleRejects) {
  for (const auto& c : SignedByBothSigns()) {
    const PublicKey& key = c.pair.public_key;
    auto with = [&](auto change) {
      test::Bytes s(c.sig.begin(), c.sig.end());
      change(s);
      return s;
    };
    struct Case {
      const char* what;
      test::Bytes sig;
    } cases[] = {
        {"63 bytes", with([](test::Bytes& s) { s.pop_back(); })},
        {"65 bytes", with([](test::Bytes& s) { s.push_back(0); })},
        {"empty", {}},
        {"sign bit flipped", with([](test::Bytes& s) { s[63] ^= 0x80; })},
        {"bit 6 set", with([](test::Bytes& s) { s[63] |= 0x40; })},
        {"bit 5 set", with([](test::Bytes& s) { s[63] |= 0x20; })},
        {"R changed", with([](test::Bytes& s) { s[0] ^= 1; })},
        {"S changed", with([](test::Bytes& s) { s[40] ^= 1; })},
    };
    for (const auto& k : cases) {
      EXPECT_FALSE(XEdDsaVerify(key, c.msg, k.sig)) << k.what;
    }
    test::Bytes other_msg = c.msg;
    other_msg.back() ^= 1;
    EXPECT_FALSE(XEdDsaVerify(key, other_msg, c.sig));
    SeededRng rng(3);
    EXPECT_FALSE(XEdDsaVerify(KeyPair::Generate(rng).public_key, c.msg, c.sig));

    // Keys without an Edwards point: u = -1, and u = 2 (on the twist).
    test::Bytes minus_one = Hex("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    test::Bytes two(32, 0);
    two[0] = 2;
    EXPECT_FALSE(XEdDsaVerify(PublicKey(std::span<const uint8_t, 32>(minus_one.data(), 32)),
                              c.msg, c.sig));
    EXPECT_FALSE(XEdDsaVerify(PublicKey(std::span<const uint8_t, 32>(two.data(), 32)),
                              c.msg, c.sig));
  }
}

// With the key u = 0 (Edwards point (0, -1), of order 2) the signature
// R = neutral element, S = 0 satisfies R = S·B - h·A for every even h, so
// the bare equation accepts it for about half of all messages. Small-order
// keys are refused outright.
TEST(XEdDsa, RefusesTheSmallOrderKeyForgery) {
  const test::Bytes zero(32, 0);
  const PublicKey key(std::span<const uint8_t, 32>(zero.data(), 32));
  Signature forged{};
  forged[0] = 0x01;  // the neutral element's encoding (y = 1)
  for (uint8_t i = 0; i < 16; ++i) {
    const test::Bytes msg(8, i);
    EXPECT_FALSE(XEdDsaVerify(key, msg, forged)) << int{i};
  }
}

// S is only required to be below 2^253, so S + q still verifies when it fits.
TEST(XEdDsa, AcceptsUnreducedScalarBelow2To253) {
  const test::Bytes q = Hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  SeededRng rng(11);
  int tried = 0;
  for (int i = 0; i < 20; ++i) {
    KeyPair pair = KeyPair::Generate(rng);
    test::Bytes msg(10, static_cast<uint8_t>(i));
    Signature sig = XEdDsaSign(pair.private_key, msg, rng);
    uint8_t sign = sig[63] & 0x80;
    sig[63] &= 0x7F;
    unsigned carry = 0;
    for (int j = 0; j < 32; ++j) {
      unsigned v = sig[32 + j] + q[j] + carry;
      sig[32 + j] = static_cast<uint8_t>(v);
      carry = v >> 8;
    }
    if (sig[63] & 0xE0) continue;  // S + q reached 2^253
    sig[63] |= sign;
    EXPECT_TRUE(XEdDsaVerify(pair.public_key, msg, sig)) << i;
    ++tried;
  }
  EXPECT_GT(tried, 10);
}

TEST(XEdDsa, SigningIsRandomisedAndDrawsSixtyFourBytes) {
  SeededRng rng(5);
  KeyPair pair = KeyPair::Generate(rng);
  const test::Bytes msg(33, 0x05);
  Signature a = XEdDsaSign(pair.private_key, msg, rng);
  Signature b = XEdDsaSign(pair.private_key, msg, rng);
  EXPECT_NE(a, b);
  EXPECT_TRUE(XEdDsaVerify(pair.public_key, msg, a));
  EXPECT_TRUE(XEdDsaVerify(pair.public_key, msg, b));

  // The same 64 random bytes give the same signature, with or without a
  // reused signer.
  test::Bytes z(128, 0x5A);
  ScriptedRng z1(z), z2(z);
  XEdDsaSigner signer(pair.private_key);
  EXPECT_EQ(XEdDsaSign(pair.private_key, msg, z1), signer.Sign(msg, z2));
  EXPECT_EQ(z1.remaining(), 64u);
  EXPECT_EQ(signer.Sign(msg, z2), XEdDsaSign(pair.private_key, msg, z1));
}

TEST(XEdDsa, EmptyAndLongMessages) {
  SeededRng rng(9);
  KeyPair pair = KeyPair::Generate(rng);
  for (size_t len : {0, 1, 1569, 100000}) {
    test::Bytes msg(len, 0x33);
    Signature sig = XEdDsaSign(pair.private_key, msg, rng);
    EXPECT_TRUE(XEdDsaVerify(pair.public_key, msg, sig)) << len;
    EXPECT_TRUE(OpenSslAcceptsAsEd25519(pair.public_key, msg, sig)) << len;
  }
}

}  // namespace
}  // namespace velmo::crypto
