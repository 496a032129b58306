// ML-KEM-768 (FIPS 203), with the encapsulation split in two steps for the
// post-quantum ratchet: the first needs only the 64-byte header of the
// encapsulation key (rho || H(ek)), the second the 1152-byte vector.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/random.h"
#include "crypto/secure_bytes.h"

namespace velmo::crypto::mlkem768 {

constexpr size_t kSeedBytes = 64;  // d || z
constexpr size_t kMessageBytes = 32;
constexpr size_t kEncapsulationKeyBytes = 1184;
constexpr size_t kDecapsulationKeyBytes = 2400;
constexpr size_t kCiphertextBytes = 1088;
constexpr size_t kSharedSecretBytes = 32;
// The split: header = rho || H(ek); vector = the encoded t-hat, the first
// 1152 bytes of ek; ciphertext = part 1 (compressed u) || part 2 (v).
constexpr size_t kHeaderBytes = 64;
constexpr size_t kVectorBytes = 1152;
constexpr size_t kEncapsulationStateBytes = 2080;
constexpr size_t kCiphertext1Bytes = 960;
constexpr size_t kCiphertext2Bytes = 128;
// Where the header and the vector sit inside the decapsulation key
// (dk = dk_pke || ek || H(ek) || z).
constexpr size_t kVectorOffsetInDk = 1152;
constexpr size_t kHeaderOffsetInDk = 2304;

using EncapsulationKey = std::array<uint8_t, kEncapsulationKeyBytes>;
using DecapsulationKey = SecretArray<kDecapsulationKeyBytes>;
using Ciphertext = std::array<uint8_t, kCiphertextBytes>;
using SharedSecret = SecretArray<kSharedSecretBytes>;
using Header = std::array<uint8_t, kHeaderBytes>;
using Ciphertext1 = std::array<uint8_t, kCiphertext1Bytes>;
using Ciphertext2 = std::array<uint8_t, kCiphertext2Bytes>;
// r-hat (3 x 256 coefficients), e2 (256), each a 16-bit little-endian value
// in [0, q), then the 32-byte message m.
using EncapsulationState = SecretArray<kEncapsulationStateBytes>;

struct KeyPair {
  EncapsulationKey ek;
  DecapsulationKey dk;
};

struct Encapsulation {
  Ciphertext ciphertext;
  SharedSecret shared_secret;
};

struct FirstStep {
  Ciphertext1 ciphertext1;
  EncapsulationState state;
  SharedSecret shared_secret;
};

// Inputs are byte strings as they come out of records; every function that
// takes them gives nothing (or false) when a length is not the one above.

// KeyGen derives the key pair from the 64 bytes d || z
// (ML-KEM.KeyGen_internal).
std::optional<KeyPair> KeyGen(ByteView seed);
// GenerateKeyPair draws d || z from `rng`.
KeyPair GenerateKeyPair(Rng& rng);

// Encapsulate with the 32-byte message m (ML-KEM.Encaps_internal). Nothing
// also when ek fails the modulus check (a coefficient at or above q).
std::optional<Encapsulation> Encapsulate(ByteView ek, ByteView m);

// Decapsulate with implicit rejection: a ciphertext that does not re-encrypt
// gives J(z || c). Nothing also when dk fails the hash check (its stored
// H(ek) does not match its ek).
std::optional<SharedSecret> Decapsulate(ByteView dk, ByteView ciphertext);

// The input checks of FIPS 203 section 7: the modulus check of ek and the
// hash check of dk.
bool CheckEncapsulationKey(ByteView ek);
bool CheckDecapsulationKey(ByteView dk);

// HeaderOf and VectorOf cut an encapsulation key into its two transferred
// parts (the header's second half is H(ek)). The key side can equally take
// them from its dk at kHeaderOffsetInDk and kVectorOffsetInDk.
Header HeaderOf(const EncapsulationKey& ek);
std::span<const uint8_t, kVectorBytes> VectorOf(const EncapsulationKey& ek);

// EncapsulateFirstStep: from the header and m, ciphertext part 1, the state
// kept for the second step, and the shared secret. The same m gives the same
// bytes and secret as Encapsulate.
std::optional<FirstStep> EncapsulateFirstStep(ByteView header, ByteView m);

// EncapsulateSecondStep: ciphertext part 2 from the state and the vector.
// Check the vector with VectorMatchesHeader first.
std::optional<Ciphertext2> EncapsulateSecondStep(ByteView state, ByteView vector);

// VectorMatchesHeader tells whether `vector` belongs to `header`:
// H(vector || rho) equals the header's hash, and every coefficient is below q
// (the modulus check the whole key would get).
bool VectorMatchesHeader(ByteView vector, ByteView header);

}  // namespace velmo::crypto::mlkem768
