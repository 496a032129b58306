// Session set-up from a pre-key message: the receiver's half of the key
// agreement, run when the first message of a session arrives (or a later
// message of a session the peer still considers unanswered).
#pragma once

#include "api/protocol/step_context.h"
#include "api/records.h"
#include "protocol/error.h"
#include "store/stores.h"

namespace velmo::api {

using crypto::ByteView;

// DecryptPreKeyMessage reads a pre-key message from `address`, finds the
// session state it names (by base key and version) or sets one up from the
// pre-keys it names, and decrypts the ordinary message inside with that
// state only. The one-time pre-key it used is removed and the Kyber pre-key
// marked used, together with the identity and record being written, only
// when everything succeeded. Failures: the message read failures,
// "untrusted identity for address {}", the pre-key identifier failures,
// key read failures of the stored pre-keys and the Kyber ciphertext,
// "invalid argument: post-quantum ratchet: error creating initial B2A state:
// {}", "invalid session: failed to decode previous session protobuf", and
// the decryption failures of DecryptWithRecord.
proto::Result<SecretBytes> DecryptPreKeyMessage(store::ProtocolStores& stores,
                                                const PeerAddress& address,
                                                ByteView bytes,
                                                const StepContext& context);

}  // namespace velmo::api
