#include "crypto/aes_cbc.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>
#include <stdexcept>

namespace velmo::crypto {
namespace {

// Fetched once: an implicit fetch on every initialisation costs more than
// encrypting a short message.
const EVP_CIPHER* Cipher() {
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  if (cipher == nullptr) {
    throw std::runtime_error("AES-256-CBC is not available");
  }
  return cipher;
}

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

CtxPtr Start(ByteView key, ByteView iv, CbcPadding padding, bool encrypt) {
  if (key.size() != kAes256KeyBytes || iv.size() != kAesBlockBytes) {
    throw std::invalid_argument("AES-256-CBC needs a 32-byte key and 16-byte IV");
  }
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), Cipher(), key.data(), iv.data(),
                                 encrypt ? 1 : 0, nullptr) != 1) {
    throw std::runtime_error("AES-256-CBC initialisation failed");
  }
  // PKCS#7 is the default; setting a parameter goes through OpenSSL's
  // parameter lookup, which costs as much as the short message itself.
  if (padding == CbcPadding::kNone) {
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  }
  return ctx;
}

}  // namespace

size_t Aes256CbcEncryptInto(std::span<uint8_t> out, ByteView key, ByteView iv,
                            ByteView plaintext, CbcPadding padding) {
  if (padding == CbcPadding::kNone && plaintext.size() % kAesBlockBytes != 0) {
    throw std::invalid_argument("unpadded CBC needs whole blocks");
  }
  if (plaintext.size() > INT_MAX - kAesBlockBytes ||
      out.size() < plaintext.size() + kAesBlockBytes) {
    throw std::invalid_argument("AES-256-CBC output buffer too small");
  }
  CtxPtr ctx = Start(key, iv, padding, true);
  int n = 0, tail = 0;
  if (EVP_EncryptUpdate(ctx.get(), out.data(), &n, plaintext.data(),
                        static_cast<int>(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
    throw std::runtime_error("AES-256-CBC encryption failed");
  }
  return static_cast<size_t>(n + tail);
}

std::optional<size_t> Aes256CbcDecryptInto(std::span<uint8_t> out, ByteView key,
                                           ByteView iv, ByteView ciphertext,
                                           CbcPadding padding) {
  CtxPtr ctx = Start(key, iv, padding, false);
  if (ciphertext.empty() || ciphertext.size() % kAesBlockBytes != 0 ||
      ciphertext.size() > INT_MAX - kAesBlockBytes) {
    return std::nullopt;
  }
  // The cipher may hold back a block per call, so it needs room for one more
  // than the input.
  if (out.size() < ciphertext.size() + kAesBlockBytes) {
    throw std::invalid_argument("AES-256-CBC output buffer too small");
  }
  int n = 0, tail = 0;
  if (EVP_DecryptUpdate(ctx.get(), out.data(), &n, ciphertext.data(),
                        static_cast<int>(ciphertext.size())) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
    secure_wipe(out.data(), out.size());
    return std::nullopt;
  }
  return static_cast<size_t>(n + tail);
}

Bytes Aes256CbcEncrypt(ByteView key, ByteView iv, ByteView plaintext,
                       CbcPadding padding) {
  Bytes out(plaintext.size() + kAesBlockBytes);
  out.resize(Aes256CbcEncryptInto(out, key, iv, plaintext, padding));
  return out;
}

std::optional<Bytes> Aes256CbcDecrypt(ByteView key, ByteView iv,
                                      ByteView ciphertext, CbcPadding padding) {
  Bytes out(ciphertext.size() + kAesBlockBytes);
  std::optional<size_t> n = Aes256CbcDecryptInto(out, key, iv, ciphertext, padding);
  if (!n) {
    return std::nullopt;
  }
  out.resize(*n);
  return out;
}

}  // namespace velmo::crypto
