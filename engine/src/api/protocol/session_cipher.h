// The Double Ratchet of an established session: encryption for a peer
// address, and decryption of ordinary messages with the record's current
// state or, failing that, one of its archived states. Each message key is
// salted with the post-quantum ratchet's key for that message.
#pragma once

#include <cstdint>

#include "api/protocol/step_context.h"
#include "api/records.h"
#include "protocol/error.h"
#include "protocol/messages.h"
#include "protocol/records.h"
#include "store/stores.h"

namespace velmo::api {

using crypto::ByteView;

// Forward jump allowed within one receiving chain, except in a session
// with oneself.
inline constexpr uint32_t kMaxForwardJump = 25000;

struct EncryptedMessage {
  SignalMessageKind kind;
  uint8_t version;  // the message version, the high nibble of byte 0
  Bytes bytes;
};

// EncryptFor encrypts `plaintext` with the current state of `address`'s
// session: a pre-key message while the session is unanswered, an ordinary
// one after. Fails with "session with {} not found" without a current state
// or when the unanswered state is more than 30 days old, with the session
// state's read failures, "invalid state for call to message_encrypt to
// succeed: ..." and "untrusted identity for address {}". Writes the peer
// identity and the record to the stores only on success.
proto::Result<EncryptedMessage> EncryptFor(store::ProtocolStores& stores,
                                           const PeerAddress& address,
                                           ByteView plaintext,
                                           const StepContext& context);

// DecryptOrdinary reads and decrypts an ordinary message from `address`:
// the message read failures, "session with {} not found", the failures of
// DecryptWithRecord and "untrusted identity for address {}". On success the
// peer identity and the updated record are in the stores.
proto::Result<SecretBytes> DecryptOrdinary(store::ProtocolStores& stores,
                                           const PeerAddress& address,
                                           ByteView bytes,
                                           const StepContext& context);

// DecryptWithRecord decrypts `message` with the current state of `record`,
// then (for an ordinary message only) with each archived state from the
// most recent; a state that works becomes the current one. A duplicate is
// reported as "message with old counter {} / {}" at once; any other failure
// as "invalid {} message: decryption failed", the reasons going to the log.
// `record` changes only on success.
proto::Result<SecretBytes> DecryptWithRecord(
    proto::RecordStructure& record,
    const PeerAddress& address,
    const proto::SignalMessage& message,
    proto::MessageType type,
    const StepContext& context);

}  // namespace velmo::api
