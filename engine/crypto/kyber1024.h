// Kyber-1024 as submitted to round 3 of the NIST competition (not the
// ML-KEM-1024 of FIPS 203): the KEM of the PQXDH set-up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/random.h"
#include "crypto/secure_bytes.h"

namespace velmo::crypto::kyber1024 {

constexpr size_t kPublicKeyBytes = 1568;
constexpr size_t kSecretKeyBytes = 3168;
constexpr size_t kCiphertextBytes = 1568;
constexpr size_t kSharedSecretBytes = 32;

using PublicKey = std::array<uint8_t, kPublicKeyBytes>;
using SecretKey = SecretArray<kSecretKeyBytes>;
using Ciphertext = std::array<uint8_t, kCiphertextBytes>;
using SharedSecret = SecretArray<kSharedSecretBytes>;

struct KeyPair {
  PublicKey public_key;
  SecretKey secret_key;  // sk_pke || pk || H(pk) || z
};

struct Encapsulation {
  Ciphertext ciphertext;
  SharedSecret shared_secret;
};

// KeyPairFromSeed derives the key pair from 64 bytes d || z; d is hashed
// alone ((rho, sigma) = SHA3-512(d)), z is kept for implicit rejection.
KeyPair KeyPairFromSeed(std::span<const uint8_t, 64> seed);
// GenerateKeyPair draws those 64 bytes from `rng`.
KeyPair GenerateKeyPair(Rng& rng);

// Encapsulate with 32 random bytes, which are hashed before use; the shared
// secret is SHAKE256(K-bar || H(c)). Every 1568-byte public key is accepted
// (round 3 has no modulus check; values are taken modulo q).
Encapsulation Encapsulate(const PublicKey& pk, std::span<const uint8_t, 32> random);
// Encapsulate drawing the 32 bytes from `rng`.
Encapsulation Encapsulate(const PublicKey& pk, Rng& rng);

// Decapsulate with round-3 implicit rejection: a ciphertext that does not
// re-encrypt gives SHAKE256(z || H(c)). Never fails.
SharedSecret Decapsulate(const SecretKey& sk, const Ciphertext& ciphertext);

}  // namespace velmo::crypto::kyber1024
