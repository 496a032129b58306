// The session layer's derivations recomputed straight from OpenSSL, so that
// tests compare the engine against an implementation that shares none of
// its code above the curve arithmetic.
#pragma once

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "crypto/secure_bytes.h"
#include "crypto/x25519.h"

namespace velmo::api::testing::independent {

using crypto::Bytes;
using crypto::ByteView;

inline Bytes Cat(std::initializer_list<ByteView> parts) {
  Bytes out;
  for (ByteView p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline ByteView Text(std::string_view s) {
  return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Hkdf is HKDF-SHA256; an empty salt is the standard 32 zero bytes.
inline Bytes Hkdf(ByteView salt,
                  ByteView ikm,
                  std::string_view info,
                  size_t len) {
  static const uint8_t kZero[32] = {};
  if (salt.empty())
    salt = ByteView(kZero, 32);
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST,
                                       const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(
          OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(salt.data()), salt.size()),
      OSSL_PARAM_construct_octet_string(
          OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(ikm.data()), ikm.size()),
      OSSL_PARAM_construct_octet_string(
          OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()), info.size()),
      OSSL_PARAM_construct_end()};
  Bytes out(len);
  int ok = EVP_KDF_derive(ctx, out.data(), len, params);
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
  if (ok != 1)
    throw std::runtime_error("HKDF failed");
  return out;
}

inline Bytes Hmac(ByteView key, ByteView data) {
  Bytes out(32);
  unsigned int len = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(),
       data.size(), out.data(), &len);
  return out;
}

inline Bytes AesCbcDecrypt(ByteView key, ByteView iv, ByteView ciphertext) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(ciphertext.size() + 16);
  int len = 0;
  int tail = 0;
  bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(),
                               iv.data()) == 1 &&
            EVP_DecryptUpdate(ctx, out.data(), &len, ciphertext.data(),
                              static_cast<int>(ciphertext.size())) == 1 &&
            EVP_DecryptFinal_ex(ctx, out.data() + len, &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok)
    throw std::runtime_error("AES-CBC decryption failed");
  out.resize(static_cast<size_t>(len + tail));
  return out;
}

// Dh is X25519 of a private key and a public key.
inline Bytes Dh(const crypto::PrivateKey& own, const crypto::PublicKey& their) {
  Bytes out(32);
  static_cast<void>(crypto::X25519(std::span<uint8_t, 32>(out.data(), 32),
                                   own.bytes(), their.bytes()));
  return out;
}

inline Bytes Slice(const Bytes& b, size_t from, size_t len) {
  return Bytes(b.begin() + from, b.begin() + from + len);
}

}  // namespace velmo::api::testing::independent
