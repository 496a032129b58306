// Operations 2, 3 and 16: the store frame around the session steps. The
// stores are built from the snapshot, the step runs against them, and only
// a step that succeeded has its changes exported; a failure hands back the
// error alone.
#include <utility>

#include "api/protocol/bundle_setup.h"
#include "api/protocol/operations.h"
#include "api/protocol/pre_key_message.h"
#include "api/protocol/session_cipher.h"
#include "api/protocol/store_frame.h"

namespace velmo::api {

Outcome<DecryptResult> DecryptMessage(StoreSnapshot store,
                                      PeerAddress address,
                                      SignalMessageKind kind,
                                      Bytes ciphertext) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok())
    return stores.error();
  const StepContext context = StepContext::System();
  proto::Result<SecretBytes> plaintext =
      kind == SignalMessageKind::PreKey
          ? DecryptPreKeyMessage(stores.value(), address, ciphertext, context)
          : DecryptOrdinary(stores.value(), address, ciphertext, context);
  if (!plaintext.ok())
    return ToEngineError(plaintext.error());
  return DecryptResult{std::move(plaintext.value()),
                       ExportChanges(stores.value())};
}

Outcome<EncryptResult> EncryptMessage(StoreSnapshot store,
                                      PeerAddress address,
                                      SecretBytes plaintext) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok())
    return stores.error();
  proto::Result<EncryptedMessage> message =
      EncryptFor(stores.value(), address, plaintext, StepContext::System());
  if (!message.ok())
    return ToEngineError(message.error());
  return EncryptResult{message->kind, message->version,
                       std::move(message->bytes),
                       ExportChanges(stores.value())};
}

Outcome<StoreChanges> ProcessPreKeyBundle(StoreSnapshot store,
                                          PeerAddress address,
                                          PreKeyBundle bundle) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok())
    return stores.error();
  Outcome<CheckedBundle> checked = CheckBundle(bundle);
  if (!checked.ok())
    return checked.error();
  proto::Status set_up = InitiateSession(
      stores.value(), address, checked.value(), StepContext::System());
  if (!set_up.ok())
    return ToEngineError(set_up.error());
  return ExportChanges(stores.value());
}

}  // namespace velmo::api
