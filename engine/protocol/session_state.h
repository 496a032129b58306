// Reads and updates of a session state and its record, keeping the limits of
// the stored format: 40 archived states, 5 receiving chains, 2000 kept
// message keys per chain. Reads of stored fields fail with
// "invalid session: <what>" when the field is unusable.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "crypto/secure_bytes.h"
#include "protocol/error.h"
#include "protocol/keys.h"
#include "protocol/records.h"

namespace velmo::proto {

// Unanswered sessions older than this cannot encrypt any more.
inline constexpr uint64_t kMaxUnacknowledgedSessionAgeSeconds = 30 * 24 * 3600;

// A chain key with the message number it produces next.
struct ChainKeyValue {
  crypto::SecretArray<32> key;
  uint32_t index = 0;
};

// SessionVersion is the stored version, with 0 read as 2.
uint32_t SessionVersion(const SessionStructure& state);

// Own identity key (field 2): "invalid local identity key".
Result<PublicKey> LocalIdentityKey(const SessionStructure& state);
// Peer identity key (field 3); empty means none:
// "invalid remote identity key".
Result<std::optional<PublicKey>> RemoteIdentityKey(
    const SessionStructure& state);

// The sending chain's chain key: "missing sender chain",
// "missing sender chain key", "invalid sender chain key".
Result<ChainKeyValue> SenderChainKey(const SessionStructure& state);
// "missing sender chain", "invalid sender chain private ratchet key".
Result<PrivateKey> SenderRatchetPrivateKey(const SessionStructure& state);
// "missing sender chain", "invalid sender chain ratchet key".
Result<PublicKey> SenderRatchetKey(const SessionStructure& state);

// SetSenderChain replaces the sending chain with a fresh one.
void SetSenderChain(SessionStructure& state, const KeyPair& ratchet,
                    const ChainKeyValue& chain_key);
// SetSenderChainKey moves the sending chain on; the chain must exist.
void SetSenderChainKey(SessionStructure& state, const ChainKeyValue& chain_key);

// FindReceiverChain returns the first receiving chain whose ratchet key is
// `their_ratchet_key`, or nullptr. A chain whose stored key does not read
// fails with "invalid receiver chain ratchet key".
Result<Chain*> FindReceiverChain(SessionStructure& state,
                                 const PublicKey& their_ratchet_key);
// "missing receiver chain key", "invalid receiver chain key".
Result<ChainKeyValue> ReceiverChainKey(const Chain& chain);
void SetReceiverChainKey(Chain& chain, const ChainKeyValue& chain_key);

// AddReceiverChain appends a chain for a new peer ratchet key and drops the
// oldest one when there are more than 5.
void AddReceiverChain(SessionStructure& state,
                      const PublicKey& their_ratchet_key,
                      const ChainKeyValue& chain_key);

// KeepMessageKey keeps the seed of a skipped message at the front of the
// chain's kept keys, dropping the oldest beyond 2000.
void KeepMessageKey(Chain& chain, uint32_t index, ByteView seed);
// KeepMessageKeys does the same for many skipped messages at once, given in
// the order they were skipped (oldest first), in time linear in the chain's
// kept keys; the result equals keeping them one by one.
void KeepMessageKeys(Chain& chain, std::vector<MessageKey> skipped);

// A kept message key: either the seed the keys are derived from, or keys
// stored explicitly by some other writer.
struct ExplicitMessageKeys {
  crypto::SecretArray<32> cipher_key;
  crypto::SecretArray<32> mac_key;
  crypto::SecretArray<16> iv;
};
using KeptMessageKey = std::variant<KeyBytes, ExplicitMessageKeys>;

// TakeMessageKey removes the first kept key with `index` and returns it;
// nullopt when there is none. The entry is removed even when its explicit
// keys are unusable: "invalid message cipher key", "invalid message MAC key",
// "invalid message IV".
Result<std::optional<KeptMessageKey>> TakeMessageKey(Chain& chain,
                                                     uint32_t index);

// The unanswered first message's base key: "invalid pending PreKey message
// base key". nullopt when the session is answered.
Result<std::optional<PublicKey>> PendingPreKeyBaseKey(
    const SessionStructure& state);
// ClearPendingPreKey ends the unanswered phase (both pending parts go).
void ClearPendingPreKey(SessionStructure& state);

// IsUsableForSending: the state has a sending chain and is either answered
// or was set up no more than 30 days before `now_seconds`.
bool IsUsableForSending(const SessionStructure& state, uint64_t now_seconds);

// ArchiveCurrentState installs `fresh` as the current state; the old current
// state, stripped of its pending parts, becomes the first archived state and
// the oldest archived state goes beyond 40.
void ArchiveCurrentState(RecordStructure& record, SessionStructure fresh);

// ArchivedState decodes archived entry i (0 = most recent):
// "invalid session: failed to decode previous session protobuf".
Result<SessionStructure> ArchivedState(const RecordStructure& record,
                                       size_t i);

// PromoteArchivedState removes archived entry i and installs `updated` (the
// state decoded from it, after use) as current, archiving the current one.
void PromoteArchivedState(RecordStructure& record, size_t i,
                          SessionStructure updated);

}  // namespace velmo::proto
