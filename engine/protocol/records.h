// The stored records: what the Dart side keeps for us between calls, as
// protocol-buffer messages. Field names and numbers are those of the stored
// format; the comments give the wire number.
//
// Presence: a plain number or KeyBytes/Bytes field is "omitted when zero or
// empty" (absent reads as zero or empty); std::optional marks a field that is
// written whenever it is set, even as zero. Secrets (private keys, root,
// chain and message keys, the post-quantum ratchet state, archived states)
// live in wiping containers.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/error.h"
#include "protocol/key_bytes.h"
#include "protocol/shared_bytes.h"

namespace velmo::proto {

// Limits the session state keeps.
inline constexpr size_t kMaxArchivedStates = 40;
inline constexpr size_t kMaxReceiverChains = 5;
inline constexpr size_t kMaxMessageKeys = 2000;

struct ChainKey {
  uint32_t index = 0;  // 1: the message number this key produces next
  KeyBytes key;        // 2: 32 bytes, secret
};

struct MessageKey {
  // User-provided, so that a chain's thousands of entries are not zeroed
  // before being filled in.
  MessageKey() {}

  uint32_t index = 0;       // 1
  SecretBytes cipher_key;   // 2: explicit-key entries only (32 bytes)
  SecretBytes mac_key;      // 3: explicit-key entries only (32 bytes)
  SecretBytes iv;           // 4: explicit-key entries only (16 bytes)
  KeyBytes seed;            // 5: the message-key seed; non-empty = seed entry
};

struct Chain {
  KeyBytes sender_ratchet_key;          // 1: 33-byte public key
  KeyBytes sender_ratchet_key_private;  // 2: 32 bytes, sending chain only
  std::optional<ChainKey> chain_key;    // 3
  // 4: kept keys of skipped messages, newest first; receiving chains only.
  std::vector<MessageKey> message_keys;
};

struct PendingPreKey {
  std::optional<uint32_t> pre_key_id;  // 1: written even when 0
  KeyBytes base_key;                   // 2: 33-byte public key
  int32_t signed_pre_key_id = 0;       // 3: int32, sign-extended on the wire
  uint64_t timestamp = 0;              // 4: seconds since the epoch
};

struct PendingKyberPreKey {
  uint32_t pre_key_id = 0;  // 1
  Bytes ciphertext;         // 2: 1569 bytes
};

struct SessionStructure {
  uint32_t session_version = 0;                       // 1: 0 reads as 2
  KeyBytes local_identity_public;                     // 2
  KeyBytes remote_identity_public;                    // 3
  KeyBytes root_key;                                  // 4: 32 bytes, secret
  uint32_t previous_counter = 0;                      // 5
  std::optional<Chain> sender_chain;                  // 6
  std::vector<Chain> receiver_chains;                 // 7: oldest first
  std::optional<PendingPreKey> pending_pre_key;       // 9
  uint32_t remote_registration_id = 0;                // 10
  uint32_t local_registration_id = 0;                 // 11
  KeyBytes alice_base_key;                            // 13
  std::optional<PendingKyberPreKey> pending_kyber_pre_key;  // 14
  // 15: the post-quantum ratchet's own serialized state, kept as bytes here
  // and decoded only by the ratchet.
  SecretBytes pq_ratchet_state;
};

struct RecordStructure {
  std::optional<SessionStructure> current_session;  // 1
  // 2: archived states, each a serialized SessionStructure, most recent
  // first. They stay bytes until a decryption tries one, and copies of the
  // record share them.
  std::vector<SharedBytes> previous_sessions;
};

struct PreKeyRecordStructure {
  uint32_t id = 0;           // 1
  KeyBytes public_key;       // 2: 33 bytes
  KeyBytes private_key;      // 3: 32 bytes
};

// Signed pre-key records and Kyber pre-key records share this message; they
// differ in the keys they hold (33/32 bytes against 1569/3169 bytes).
struct SignedPreKeyRecordStructure {
  uint32_t id = 0;          // 1
  KeyBytes public_key;      // 2
  KeyBytes private_key;     // 3
  Bytes signature;          // 4: 64 bytes
  uint64_t timestamp = 0;   // 5: fixed64, milliseconds since the epoch
};

struct IdentityKeyPairStructure {
  KeyBytes public_key;   // 1: 33 bytes
  KeyBytes private_key;  // 2: 32 bytes
};

// Decoders of the wire format: false when the bytes are not a well-formed
// message of that kind. `out` is filled only on success. These are the
// building blocks; the Read* functions below add the texts.
[[nodiscard]] bool Decode(ByteView in, RecordStructure* out);
// The same for a buffer the caller hands over: the archived states view it
// instead of being copied out of it.
[[nodiscard]] bool Decode(std::shared_ptr<const SecretBytes> in,
                          RecordStructure* out);
[[nodiscard]] bool Decode(ByteView in, SessionStructure* out);
[[nodiscard]] bool Decode(ByteView in, PreKeyRecordStructure* out);
[[nodiscard]] bool Decode(ByteView in, SignedPreKeyRecordStructure* out);
[[nodiscard]] bool Decode(ByteView in, IdentityKeyPairStructure* out);

// Writers: ascending field order, unknown fields of the input not kept.
SecretBytes Encode(const RecordStructure& record);
SecretBytes Encode(const SessionStructure& state);
SecretBytes Encode(const PreKeyRecordStructure& record);
SecretBytes Encode(const SignedPreKeyRecordStructure& record);
SecretBytes Encode(const IdentityKeyPairStructure& record);

// Readers with the failure texts the callers report.
// "invalid session: failed to decode session record protobuf"; archived
// entries are not decoded.
Result<RecordStructure> ReadSessionRecord(ByteView in);
Result<RecordStructure> ReadSessionRecord(std::shared_ptr<const SecretBytes> in);
// An archived entry, decoded when a decryption tries it:
// "invalid session: failed to decode previous session protobuf".
Result<SessionStructure> ReadArchivedSession(ByteView in);
// "protobuf encoding was invalid"; keys are read later, when used.
Result<PreKeyRecordStructure> ReadPreKeyRecord(ByteView in);
Result<SignedPreKeyRecordStructure> ReadSignedPreKeyRecord(ByteView in);

}  // namespace velmo::proto
