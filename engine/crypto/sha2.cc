// The SHA-2 block functions of OpenSSL's low-level interface: unlike the EVP
// interface they need no per-call lookup or allocation, which dominates the
// cost for the short inputs of the per-message path, and they still use the
// CPU's SHA extensions.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/sha2.h"

#include <openssl/sha.h>

namespace velmo::crypto {
namespace {
static_assert(sizeof(SHA256_CTX) == 112 && alignof(SHA256_CTX) <= 8);
static_assert(sizeof(SHA512_CTX) == 216 && alignof(SHA512_CTX) <= 8);

SHA256_CTX* Ctx256(unsigned char* state) {
  return reinterpret_cast<SHA256_CTX*>(state);
}
SHA512_CTX* Ctx512(unsigned char* state) {
  return reinterpret_cast<SHA512_CTX*>(state);
}
}  // namespace

Sha256Digest Sha256(ByteView data) {
  Sha256Hasher h;
  h.Update(data);
  Sha256Digest out;
  h.Final(out);
  return out;
}

Sha512Digest Sha512(ByteView data) {
  Sha512Hasher h;
  h.Update(data);
  Sha512Digest out;
  h.Final(out);
  return out;
}

Sha256Hasher::Sha256Hasher() { SHA256_Init(Ctx256(state_)); }
Sha256Hasher::~Sha256Hasher() { secure_wipe(state_, sizeof(state_)); }
void Sha256Hasher::Update(ByteView data) {
  SHA256_Update(Ctx256(state_), data.data(), data.size());
}
void Sha256Hasher::Final(std::span<uint8_t, kSha256Bytes> out) {
  SHA256_Final(out.data(), Ctx256(state_));
}

Sha512Hasher::Sha512Hasher() { SHA512_Init(Ctx512(state_)); }
Sha512Hasher::~Sha512Hasher() { secure_wipe(state_, sizeof(state_)); }
void Sha512Hasher::Update(ByteView data) {
  SHA512_Update(Ctx512(state_), data.data(), data.size());
}
void Sha512Hasher::Final(std::span<uint8_t, kSha512Bytes> out) {
  SHA512_Final(out.data(), Ctx512(state_));
}

}  // namespace velmo::crypto
