// The key exchange of the post-quantum ratchet (version 1): the eleven
// states, what each sends and how each reacts to what arrives.
//
// Each epoch one side (the key side) generates an ML-KEM-768 key pair and
// sends its header and encapsulation-key vector in chunks; the other (the
// ciphertext side) encapsulates in two steps as the parts arrive and sends
// the two ciphertext parts back. Both derive the epoch secret; then the
// roles swap. Direction 0 starts as key side, direction 1 as ciphertext side.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "crypto/mlkem768.h"
#include "crypto/random.h"
#include "protocol/pq/authenticator.h"
#include "protocol/pq/chunk_code.h"
#include "protocol/pq/error.h"
#include "protocol/pq/message.h"
#include "protocol/pq/records.h"

namespace velmo::pq {

namespace kem = crypto::mlkem768;

using KemVector = std::array<uint8_t, kem::kVectorBytes>;

// The states, numbered as the one-of field that stores them. Field names
// follow the stored form: ek is the encapsulation-key vector, dk the
// decapsulation key, hdr the header, es the state between the two
// encapsulation steps, ct1 ciphertext part 1.
struct KeysUnsampled {
  uint64_t epoch;
  Authenticator auth;
};
struct KeysSampled {
  uint64_t epoch;
  Authenticator auth;
  KemVector ek;
  kem::DecapsulationKey dk;
  ChunkEncoder sending_hdr;
};
struct HeaderSent {
  uint64_t epoch;
  Authenticator auth;
  kem::DecapsulationKey dk;
  ChunkEncoder sending_ek;
  ChunkDecoder receiving_ct1;
};
struct Ct1Received {
  uint64_t epoch;
  Authenticator auth;
  kem::DecapsulationKey dk;
  kem::Ciphertext1 ct1;
  ChunkEncoder sending_ek;
};
struct EkSentCt1Received {
  uint64_t epoch;
  Authenticator auth;
  kem::DecapsulationKey dk;
  kem::Ciphertext1 ct1;
  ChunkDecoder receiving_ct2;
};
struct NoHeaderReceived {
  uint64_t epoch;
  Authenticator auth;
  ChunkDecoder receiving_hdr;
};
struct HeaderReceived {
  uint64_t epoch;
  Authenticator auth;
  kem::Header hdr;
  ChunkDecoder receiving_ek;
};
struct Ct1Sampled {
  uint64_t epoch;
  Authenticator auth;
  kem::Header hdr;
  kem::EncapsulationState es;
  kem::Ciphertext1 ct1;
  ChunkEncoder sending_ct1;
  ChunkDecoder receiving_ek;
};
struct EkReceivedCt1Sampled {
  uint64_t epoch;
  Authenticator auth;
  kem::EncapsulationState es;
  KemVector ek;
  kem::Ciphertext1 ct1;
  ChunkEncoder sending_ct1;
};
struct Ct1Acknowledged {
  uint64_t epoch;
  Authenticator auth;
  kem::Header hdr;
  kem::EncapsulationState es;
  kem::Ciphertext1 ct1;
  ChunkDecoder receiving_ek;
};
struct Ct2Sampled {
  uint64_t epoch;
  Authenticator auth;
  ChunkEncoder sending_ct2;
};

using V1State = std::variant<KeysUnsampled, KeysSampled, HeaderSent,
                             Ct1Received, EkSentCt1Received, NoHeaderReceived,
                             HeaderReceived, Ct1Sampled, EkReceivedCt1Sampled,
                             Ct1Acknowledged, Ct2Sampled>;

// InitialState is epoch 1 with the authenticator made from the
// authentication key: direction 0 in KeysUnsampled, direction 1 in
// NoHeaderReceived waiting for a header.
V1State InitialState(uint32_t direction, ByteView auth_key);

uint64_t EpochOf(const V1State& state);
std::string_view StateName(const V1State& state);

// An epoch secret a step produced, and the epoch it belongs to.
struct EpochSecretOf {
  uint64_t epoch;
  EpochSecret secret;
};

struct SendOutcome {
  MessageType type = MessageType::kNone;
  std::optional<Chunk> chunk;
  std::optional<EpochSecretOf> secret;
};

// SendStep advances `state` for one outgoing message. Draws randomness only
// in KeysUnsampled (64 bytes) and HeaderReceived (32 bytes).
SendOutcome SendStep(V1State& state, crypto::Rng& rng);

// ReceiveStep advances `state` for one incoming message. On failure ("MAC
// verification failed", "Erroneous data received from remote party", "epoch
// not in valid range: {}") `state` may be partly changed: callers work on a
// copy.
Result<std::optional<EpochSecretOf>> ReceiveStep(V1State& state,
                                                 const Message& message);

// Conversion to and from the stored one-of. FromRecord checks every size
// the states rely on and gives nullopt for anything else.
std::optional<V1State> FromRecord(const V1StateRecord& record);
V1StateRecord ToRecord(const V1State& state);

}  // namespace velmo::pq
