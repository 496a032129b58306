#include "crypto/x25519.h"

#include <sodium.h>

#include <cstring>
#include <stdexcept>

#include "crypto/fe25519.h"
#include "crypto/sodium_init.h"

namespace velmo::crypto {

void Clamp(std::span<uint8_t, kX25519Bytes> scalar) {
  scalar[0] &= 0xF8;
  scalar[31] &= 0x3F;
  scalar[31] |= 0x40;
}

PublicKey::PublicKey(std::span<const uint8_t, kX25519Bytes> u) {
  std::memcpy(u_.data(), u.data(), kX25519Bytes);
}

std::array<uint8_t, kEncodedPublicKeyBytes> PublicKey::Encode() const {
  std::array<uint8_t, kEncodedPublicKeyBytes> out;
  out[0] = kDjbKeyType;
  std::memcpy(out.data() + 1, u_.data(), kX25519Bytes);
  return out;
}

bool PublicKey::Equals(const PublicKey& other) const {
  return ct_equal(u_.data(), other.u_.data(), kX25519Bytes);
}

PrivateKey::PrivateKey(std::span<const uint8_t, kX25519Bytes> scalar) {
  std::memcpy(k_.data(), scalar.data(), kX25519Bytes);
  Clamp(k_.bytes);
}

PrivateKey PrivateKey::Generate(Rng& rng) {
  PrivateKey key;
  rng.Fill(key.k_.bytes);
  Clamp(key.k_.bytes);
  return key;
}

PublicKey PrivateKey::GetPublicKey() const {
  EnsureSodium();
  // The Edwards fixed-base multiplication with its precomputed table is about
  // twice as fast as the Montgomery ladder from u = 9; the birational map
  // u = (1 + y) / (1 - y) then gives the same point. The clamped scalar is
  // below 2^255 and never a multiple of the group order, so the product is
  // never the neutral element and 1 - y is never 0.
  uint8_t edwards[32];
  if (crypto_scalarmult_ed25519_base_noclamp(edwards, k_.data()) != 0) {
    throw std::logic_error("X25519 public key: neutral element");
  }
  edwards[31] &= 0x7F;  // y only
  using namespace internal;
  Fe y = FeFromBytes(edwards);
  Fe u = FeMul(FeAdd(FeOne(), y), FeInvert(FeSub(FeOne(), y)));
  std::array<uint8_t, kX25519Bytes> out;
  FeToBytes(out.data(), u);
  return PublicKey(out);
}

bool PrivateKey::Agree(const PublicKey& their,
                       std::span<uint8_t, kX25519Bytes> out) const {
  return X25519(out, k_.bytes, their.bytes());
}

bool X25519(std::span<uint8_t, kX25519Bytes> out,
            std::span<const uint8_t, kX25519Bytes> scalar,
            std::span<const uint8_t, kX25519Bytes> u) {
  EnsureSodium();
  // libsodium clamps the scalar and masks bit 255 of u. It refuses the
  // low-order points (whose product is all zero) without always writing the
  // output, so the zero result is written here.
  if (crypto_scalarmult_curve25519(out.data(), scalar.data(), u.data()) != 0) {
    std::memset(out.data(), 0, out.size());
    return false;
  }
  return true;
}

}  // namespace velmo::crypto
