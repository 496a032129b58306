// Each primitive beside the lower bound it stands on: the raw OpenSSL or
// libsodium call it wraps (names ending in _Raw), or for the lean HMAC/HKDF
// the generic OpenSSL interfaces they replace (_Evp). Every benchmark also
// reports heap allocations per operation.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/sha.h>
#include <sodium.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "crypto/aes_cbc.h"
#include "crypto/cpu.h"
#include "crypto/hkdf.h"
#include "crypto/hmac.h"
#include "crypto/keccak.h"
#include "crypto/kyber1024.h"
#include "crypto/mlkem768.h"
#include "crypto/random.h"
#include "crypto/sha2.h"
#include "crypto/x25519.h"
#include "crypto/xeddsa.h"

namespace {
std::atomic<uint64_t> g_allocs{0};
std::atomic<uint64_t> g_alloc_bytes{0};
}  // namespace

void* operator new(size_t n) {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  g_alloc_bytes.fetch_add(n, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace velmo::crypto {
namespace {

// Counts heap use over the timed loop; OpenSSL's own allocations go through
// malloc and are not seen, so the EVP rows understate theirs.
class HeapCounter {
 public:
  explicit HeapCounter(benchmark::State& s)
      : s_(s), a0_(g_allocs.load()), b0_(g_alloc_bytes.load()) {}
  ~HeapCounter() {
    double n = static_cast<double>(s_.iterations());
    if (n == 0) return;
    s_.counters["allocs/op"] = static_cast<double>(g_allocs.load() - a0_) / n;
    s_.counters["heap_B/op"] = static_cast<double>(g_alloc_bytes.load() - b0_) / n;
  }

 private:
  benchmark::State& s_;
  uint64_t a0_, b0_;
};

const Bytes kMsg200(200, 0x61);
const Bytes kKey32(32, 0x0b);
const Bytes kSalt32(32, 0x5a);
const Bytes kInfo = {'W', 'h', 'i', 's', 'p', 'e', 'r', 'M', 'e', 's', 's',
                     'a', 'g', 'e', 'K', 'e', 'y', 's'};

// --- SHA-256 -------------------------------------------------------------
void BM_Sha256_200(benchmark::State& s) {
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(Sha256(kMsg200));
}
void BM_Sha256_200_Raw(benchmark::State& s) {
  uint8_t out[32];
  for (auto _ : s) {
    SHA256_CTX c;
    SHA256_Init(&c);
    SHA256_Update(&c, kMsg200.data(), kMsg200.size());
    SHA256_Final(out, &c);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Sha256_200);
BENCHMARK(BM_Sha256_200_Raw);

// --- HMAC-SHA256 of 200 bytes ---------------------------------------------
void BM_HmacSha256_200_KeyedState(benchmark::State& s) {
  HmacSha256Key key(kKey32);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(key.Mac(kMsg200));
}
void BM_HmacSha256_200_OneShot(benchmark::State& s) {
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(HmacSha256Mac(kKey32, kMsg200));
}
void BM_HmacSha256_200_Evp(benchmark::State& s) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_end()};
  uint8_t out[32];
  size_t n = 0;
  for (auto _ : s) {
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    EVP_MAC_init(ctx, kKey32.data(), kKey32.size(), params);
    EVP_MAC_update(ctx, kMsg200.data(), kMsg200.size());
    EVP_MAC_final(ctx, out, &n, sizeof(out));
    EVP_MAC_CTX_free(ctx);
    benchmark::DoNotOptimize(out);
  }
  EVP_MAC_free(mac);
}
BENCHMARK(BM_HmacSha256_200_KeyedState);
BENCHMARK(BM_HmacSha256_200_OneShot);
BENCHMARK(BM_HmacSha256_200_Evp);

// --- HKDF-SHA256, 80 bytes out (the message-key derivation's size) --------
void BM_HkdfSha256_80(benchmark::State& s) {
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(HkdfSha256<80>(kSalt32, kKey32, kInfo));
}
void BM_HkdfSha256_80_Evp(benchmark::State& s) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  uint8_t out[80];
  for (auto _ : s) {
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(kKey32.data()), 32),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(kSalt32.data()), 32),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<uint8_t*>(kInfo.data()), kInfo.size()),
        OSSL_PARAM_construct_end()};
    EVP_KDF_derive(ctx, out, sizeof(out), params);
    EVP_KDF_CTX_free(ctx);
    benchmark::DoNotOptimize(out);
  }
  EVP_KDF_free(kdf);
}
BENCHMARK(BM_HkdfSha256_80);
BENCHMARK(BM_HkdfSha256_80_Evp);

// --- AES-256-CBC, 100-byte message ----------------------------------------
const Bytes kIv(16, 0x01);
const Bytes kPlain(100, 0x42);
void BM_Aes256CbcEncrypt_100(benchmark::State& s) {
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(Aes256CbcEncrypt(kKey32, kIv, kPlain));
}
void BM_Aes256CbcEncrypt_100_Raw(benchmark::State& s) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  uint8_t out[128];
  int n = 0, t = 0;
  for (auto _ : s) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex2(ctx, cipher, kKey32.data(), kIv.data(), 1, nullptr);
    EVP_EncryptUpdate(ctx, out, &n, kPlain.data(), 100);
    EVP_EncryptFinal_ex(ctx, out + n, &t);
    EVP_CIPHER_CTX_free(ctx);
    benchmark::DoNotOptimize(out);
  }
  EVP_CIPHER_free(cipher);
}
void BM_Aes256CbcDecrypt_100(benchmark::State& s) {
  Bytes ct = Aes256CbcEncrypt(kKey32, kIv, kPlain);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(Aes256CbcDecrypt(kKey32, kIv, ct));
}
void BM_Aes256CbcDecrypt_100_Raw(benchmark::State& s) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  Bytes ct = Aes256CbcEncrypt(kKey32, kIv, kPlain);
  uint8_t out[128];
  int n = 0, t = 0;
  for (auto _ : s) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex2(ctx, cipher, kKey32.data(), kIv.data(), 0, nullptr);
    EVP_DecryptUpdate(ctx, out, &n, ct.data(), static_cast<int>(ct.size()));
    EVP_DecryptFinal_ex(ctx, out + n, &t);
    EVP_CIPHER_CTX_free(ctx);
    benchmark::DoNotOptimize(out);
  }
  EVP_CIPHER_free(cipher);
}
void BM_Aes256CbcEncrypt_100_Into(benchmark::State& s) {
  uint8_t out[128];
  HeapCounter h(s);
  for (auto _ : s) {
    benchmark::DoNotOptimize(Aes256CbcEncryptInto(out, kKey32, kIv, kPlain));
  }
}
void BM_Aes256CbcDecrypt_100_Into(benchmark::State& s) {
  Bytes ct = Aes256CbcEncrypt(kKey32, kIv, kPlain);
  uint8_t out[128];
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(Aes256CbcDecryptInto(out, kKey32, kIv, ct));
}
BENCHMARK(BM_Aes256CbcEncrypt_100);
BENCHMARK(BM_Aes256CbcEncrypt_100_Into);
BENCHMARK(BM_Aes256CbcEncrypt_100_Raw);
BENCHMARK(BM_Aes256CbcDecrypt_100);
BENCHMARK(BM_Aes256CbcDecrypt_100_Into);
BENCHMARK(BM_Aes256CbcDecrypt_100_Raw);

// --- Random source ----------------------------------------------------------
void BM_ThreadRng_32(benchmark::State& s) {
  uint8_t out[32];
  Rng& rng = ThreadRng();
  HeapCounter h(s);
  for (auto _ : s) {
    rng.Fill(out);
    benchmark::DoNotOptimize(out);
  }
}
void BM_ThreadRng_32_RawGetrandom(benchmark::State& s) {
  uint8_t out[32];
  for (auto _ : s) {
    randombytes_buf(out, sizeof(out));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ThreadRng_32);
BENCHMARK(BM_ThreadRng_32_RawGetrandom);

// --- X25519 -------------------------------------------------------------
void BM_X25519Agree(benchmark::State& s) {
  SeededRng rng(1);
  KeyPair a = KeyPair::Generate(rng), b = KeyPair::Generate(rng);
  std::array<uint8_t, 32> out;
  HeapCounter h(s);
  for (auto _ : s) {
    benchmark::DoNotOptimize(a.private_key.Agree(b.public_key, out));
  }
}
void BM_X25519Agree_Raw(benchmark::State& s) {
  SeededRng rng(1);
  KeyPair a = KeyPair::Generate(rng), b = KeyPair::Generate(rng);
  uint8_t out[32];
  for (auto _ : s) {
    benchmark::DoNotOptimize(
        crypto_scalarmult_curve25519(out, a.private_key.bytes().data(), b.public_key.bytes().data()));
  }
}
void BM_X25519KeyPair(benchmark::State& s) {
  SeededRng rng(1);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(KeyPair::Generate(rng));
}
void BM_X25519KeyPair_RawLadder(benchmark::State& s) {
  uint8_t k[32], out[32];
  randombytes_buf(k, 32);
  for (auto _ : s) {
    crypto_scalarmult_curve25519_base(out, k);
    benchmark::DoNotOptimize(out);
  }
}
void BM_Ed25519FixedBase_Raw(benchmark::State& s) {
  uint8_t k[32], out[32];
  randombytes_buf(k, 32);
  k[31] &= 0x7F;
  for (auto _ : s) {
    benchmark::DoNotOptimize(crypto_scalarmult_ed25519_base_noclamp(out, k));
  }
}
BENCHMARK(BM_X25519Agree);
BENCHMARK(BM_X25519Agree_Raw);
BENCHMARK(BM_X25519KeyPair);
BENCHMARK(BM_X25519KeyPair_RawLadder);
BENCHMARK(BM_Ed25519FixedBase_Raw);

// --- XEdDSA over a 33-byte public key -------------------------------------
const Bytes kMsg33(33, 0x05);
void BM_XEdDsaSign(benchmark::State& s) {
  SeededRng rng(2);
  KeyPair kp = KeyPair::Generate(rng);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(XEdDsaSign(kp.private_key, kMsg33, rng));
}
void BM_XEdDsaSign_KeptSigner(benchmark::State& s) {
  SeededRng rng(2);
  KeyPair kp = KeyPair::Generate(rng);
  XEdDsaSigner signer(kp.private_key);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(signer.Sign(kMsg33, rng));
}
void BM_Ed25519Sign_Raw(benchmark::State& s) {
  uint8_t pk[32], sk[64], sig[64];
  crypto_sign_keypair(pk, sk);
  for (auto _ : s) {
    crypto_sign_detached(sig, nullptr, kMsg33.data(), kMsg33.size(), sk);
    benchmark::DoNotOptimize(sig);
  }
}
void BM_XEdDsaVerify(benchmark::State& s) {
  SeededRng rng(3);
  KeyPair kp = KeyPair::Generate(rng);
  Signature sig = XEdDsaSign(kp.private_key, kMsg33, rng);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(XEdDsaVerify(kp.public_key, kMsg33, sig));
}
void BM_Ed25519Verify_Raw(benchmark::State& s) {
  uint8_t pk[32], sk[64], sig[64];
  crypto_sign_keypair(pk, sk);
  crypto_sign_detached(sig, nullptr, kMsg33.data(), kMsg33.size(), sk);
  for (auto _ : s) {
    benchmark::DoNotOptimize(crypto_sign_verify_detached(sig, kMsg33.data(), kMsg33.size(), pk));
  }
}
BENCHMARK(BM_XEdDsaSign);
BENCHMARK(BM_XEdDsaSign_KeptSigner);
BENCHMARK(BM_Ed25519Sign_Raw);
BENCHMARK(BM_XEdDsaVerify);
BENCHMARK(BM_Ed25519Verify_Raw);

// --- Keccak ---------------------------------------------------------------
void BM_Shake128_MatrixEntry(benchmark::State& s) {
  uint8_t seed[34] = {1}, out[3 * 168];
  for (auto _ : s) {
    Shake128 x;
    x.Absorb(ByteView(seed, 34));
    x.SqueezeBlocks(out, 3);
    benchmark::DoNotOptimize(out);
  }
}
void BM_Shake128_MatrixEntry_Evp(benchmark::State& s) {
  EVP_MD* md = EVP_MD_fetch(nullptr, "SHAKE128", nullptr);
  uint8_t seed[34] = {1}, out[3 * 168];
  for (auto _ : s) {
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    EVP_DigestInit_ex(c, md, nullptr);
    EVP_DigestUpdate(c, seed, 34);
    EVP_DigestFinalXOF(c, out, sizeof(out));
    EVP_MD_CTX_free(c);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_free(md);
}
void BM_KeccakF1600(benchmark::State& s) {
  uint64_t st[25] = {1};
  for (auto _ : s) {
    KeccakF1600(st);
    benchmark::DoNotOptimize(st);
  }
}
BENCHMARK(BM_Shake128_MatrixEntry);
BENCHMARK(BM_Shake128_MatrixEntry_Evp);
BENCHMARK(BM_KeccakF1600);

// Argument 1 runs the portable code even on a CPU with AVX2.
class CodePath {
 public:
  explicit CodePath(benchmark::State& s) {
    internal::ForcePortableForTesting(s.range(0) == 1);
    s.SetLabel(s.range(0) == 1 ? "portable" : (internal::UseAvx2() ? "avx2" : "portable"));
  }
  ~CodePath() { internal::ForcePortableForTesting(false); }
};

// --- ML-KEM-768 -----------------------------------------------------------
// The portable C code of the algorithm's authors takes, on this kind of
// machine, about 53 / 62 / 75 us (key generation / encapsulation /
// decapsulation); their AVX2 code about 12 us each.
void BM_MlKem768_KeyGen(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(4);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(mlkem768::GenerateKeyPair(rng));
}
void BM_MlKem768_Encapsulate(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(5);
  auto kp = mlkem768::GenerateKeyPair(rng);
  uint8_t m[32] = {7};
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(mlkem768::Encapsulate(kp.ek, m));
}
void BM_MlKem768_Decapsulate(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(6);
  auto kp = mlkem768::GenerateKeyPair(rng);
  uint8_t m[32] = {7};
  auto enc = *mlkem768::Encapsulate(kp.ek, m);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(mlkem768::Decapsulate(kp.dk, enc.ciphertext));
}
void BM_MlKem768_SplitFirstStep(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(7);
  auto kp = mlkem768::GenerateKeyPair(rng);
  auto header = mlkem768::HeaderOf(kp.ek);
  uint8_t m[32] = {7};
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(mlkem768::EncapsulateFirstStep(header, m));
}
void BM_MlKem768_SplitSecondStep(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(8);
  auto kp = mlkem768::GenerateKeyPair(rng);
  uint8_t m[32] = {7};
  auto one = *mlkem768::EncapsulateFirstStep(mlkem768::HeaderOf(kp.ek), m);
  HeapCounter h(s);
  for (auto _ : s) {
    benchmark::DoNotOptimize(mlkem768::EncapsulateSecondStep(one.state, mlkem768::VectorOf(kp.ek)));
  }
}
void BM_MlKem768_VectorMatchesHeader(benchmark::State& s) {
  SeededRng rng(9);
  auto kp = mlkem768::GenerateKeyPair(rng);
  auto header = mlkem768::HeaderOf(kp.ek);
  for (auto _ : s) {
    benchmark::DoNotOptimize(mlkem768::VectorMatchesHeader(mlkem768::VectorOf(kp.ek), header));
  }
}
BENCHMARK(BM_MlKem768_KeyGen)->Arg(0)->Arg(1);
BENCHMARK(BM_MlKem768_Encapsulate)->Arg(0)->Arg(1);
BENCHMARK(BM_MlKem768_Decapsulate)->Arg(0)->Arg(1);
BENCHMARK(BM_MlKem768_SplitFirstStep)->Arg(0)->Arg(1);
BENCHMARK(BM_MlKem768_SplitSecondStep)->Arg(0)->Arg(1);
BENCHMARK(BM_MlKem768_VectorMatchesHeader);

// --- Kyber-1024 (round 3) ---------------------------------------------------
// Reference figures on this kind of machine: portable about 75 / 82 / 93 us,
// AVX2 about 12 us each.
void BM_Kyber1024_KeyGen(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(10);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(kyber1024::GenerateKeyPair(rng));
}
void BM_Kyber1024_Encapsulate(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(11);
  auto kp = kyber1024::GenerateKeyPair(rng);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(kyber1024::Encapsulate(kp.public_key, rng));
}
void BM_Kyber1024_Decapsulate(benchmark::State& s) {
  CodePath path(s);
  SeededRng rng(12);
  auto kp = kyber1024::GenerateKeyPair(rng);
  auto enc = kyber1024::Encapsulate(kp.public_key, rng);
  HeapCounter h(s);
  for (auto _ : s) benchmark::DoNotOptimize(kyber1024::Decapsulate(kp.secret_key, enc.ciphertext));
}
BENCHMARK(BM_Kyber1024_KeyGen)->Arg(0)->Arg(1);
BENCHMARK(BM_Kyber1024_Encapsulate)->Arg(0)->Arg(1);
BENCHMARK(BM_Kyber1024_Decapsulate)->Arg(0)->Arg(1);

}  // namespace
}  // namespace velmo::crypto
