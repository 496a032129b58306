#include "crypto/keccak.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::ToHex;

// OpenSSL's SHA-3 and SHAKE are an independent implementation to compare with.
test::Bytes OpenSsl(const char* name, const test::Bytes& in, size_t out_len) {
  test::Bytes out(out_len);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const EVP_MD* md = EVP_get_digestbyname(name);
  EVP_DigestInit_ex(ctx, md, nullptr);
  EVP_DigestUpdate(ctx, in.data(), in.size());
  if (EVP_MD_get_flags(md) & EVP_MD_FLAG_XOF) {
    EVP_DigestFinalXOF(ctx, out.data(), out_len);
  } else {
    unsigned n = 0;
    EVP_DigestFinal_ex(ctx, out.data(), &n);
  }
  EVP_MD_CTX_free(ctx);
  return out;
}

TEST(Keccak, KnownAnswers) {
  EXPECT_EQ(ToHex(Sha3_256({})),
            "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a");
  Shake128 shake;
  test::Bytes out(16);
  shake.Squeeze(out);
  EXPECT_EQ(ToHex(out), "7f9c2ba4e88f827d616045507605853e");
}

// Every input length around the rates, absorbed in two pieces and squeezed in
// uneven pieces, against OpenSSL.
TEST(Keccak, MatchesOpenSslAcrossLengthsAndPieces) {
  for (size_t len = 0; len < 420; len += (len < 180 ? 1 : 29)) {
    test::Bytes in(len);
    for (size_t i = 0; i < len; ++i) in[i] = static_cast<uint8_t>(i * 131 + len);
    ByteView v(in);
    SCOPED_TRACE(len);
    EXPECT_EQ(ToHex(Sha3_256(in)), ToHex(OpenSsl("SHA3-256", in, 32)));
    EXPECT_EQ(ToHex(Sha3_512(in)), ToHex(OpenSsl("SHA3-512", in, 64)));

    Shake128 s128;
    Shake256 s256;
    s128.Absorb(v.first(len / 3));
    s128.Absorb(v.subspan(len / 3));
    s256.Absorb(v.first(len / 2));
    s256.Absorb(v.subspan(len / 2));
    test::Bytes got128, got256;
    for (size_t piece : {1, 167, 168, 2, 504}) {
      test::Bytes p(piece);
      s128.Squeeze(p);
      got128.insert(got128.end(), p.begin(), p.end());
      s256.Squeeze(p);
      got256.insert(got256.end(), p.begin(), p.end());
    }
    EXPECT_EQ(ToHex(got128), ToHex(OpenSsl("SHAKE128", in, got128.size())));
    EXPECT_EQ(ToHex(got256), ToHex(OpenSsl("SHAKE256", in, got256.size())));

    Shake128 blocks;
    blocks.Absorb(in);
    test::Bytes b(3 * 168);
    blocks.SqueezeBlocks(b.data(), 3);
    EXPECT_EQ(ToHex(b), ToHex(OpenSsl("SHAKE128", in, b.size())));
  }
}

}  // namespace
}  // namespace velmo::crypto
