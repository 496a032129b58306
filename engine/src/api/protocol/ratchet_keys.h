// The key derivations of session set-up and of the Double Ratchet: the
// session secrets both parties compute from their Diffie-Hellman products,
// the root step, the chain-key steps and the per-message keys.
#pragma once

#include <cstdint>
#include <optional>

#include "crypto/secure_bytes.h"
#include "protocol/keys.h"
#include "protocol/pq/chain.h"
#include "protocol/session_state.h"

namespace velmo::api {

using crypto::ByteView;
using crypto::SecretArray;
using proto::ChainKeyValue;

// Info labels of the set-up derivation, with and without a Kyber secret.
inline constexpr char kX3dhInfo[] = "WhisperText";
inline constexpr char kPqxdhInfo[] =
    "WhisperText_X25519_SHA-256_CRYSTALS-KYBER-1024";

// SessionSecrets are what set-up derives on both sides.
struct SessionSecrets {
  SecretArray<32> root_key;
  ChainKeyValue chain_key;  // index 0
  SecretArray<32> pq_auth_key;
};

// SecretInput collects the set-up's key material in the order it is hashed:
// 32 bytes of 0xFF, then the Diffie-Hellman products and the Kyber secret.
class SecretInput {
 public:
  SecretInput();
  // AddAgreement appends X25519(own, their). A low-order peer key gives the
  // all-zero product, which is used as it is: the session stays keyed by
  // the other products.
  void AddAgreement(const proto::PrivateKey& own,
                    const proto::PublicKey& their);
  void Add(ByteView secret);

  // Derive runs HKDF over everything added, under `info`.
  SessionSecrets Derive(const char* info) const;
  ByteView bytes() const { return ByteView(bytes_.data(), size_); }

 private:
  // 32 + 4 × 32 + 32 bytes at most.
  SecretArray<192> bytes_;
  size_t size_ = 0;
};

// RootStep ratchets the root key with a new Diffie-Hellman product: the new
// root key and the first chain key (index 0) of the new chain.
struct RootStepResult {
  SecretArray<32> root_key;
  ChainKeyValue chain_key;
};
RootStepResult RootStep(ByteView root_key,
                        const proto::PrivateKey& own,
                        const proto::PublicKey& their);

// StepChain gives a chain key's message-key seed, HMAC(chain key, 0x01),
// and the next chain key, HMAC(chain key, 0x02) with the index one higher.
struct ChainStep {
  SecretArray<32> seed;
  ChainKeyValue next;
};
ChainStep StepChain(const ChainKeyValue& chain_key);

// The keys of one message.
struct MessageKeys {
  SecretArray<32> cipher_key;
  SecretArray<32> mac_key;
  SecretArray<16> iv;
};

// DeriveMessageKeys expands a message-key seed, salted with the
// post-quantum ratchet's key for the message when it gave one.
MessageKeys DeriveMessageKeys(ByteView seed,
                              const std::optional<pq::MessageKey>& pq_key);

}  // namespace velmo::api
