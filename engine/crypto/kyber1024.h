// Kyber-1024 as submitted to round 3 of the NIST competition (not the
// ML-KEM-1024 of FIPS 203): the KEM of the PQXDH set-up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
  SecretKey secret_key;
};

}  // namespace velmo::crypto::kyber1024
