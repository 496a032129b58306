// Operations 2, 3 and 16: the store frame around the session layer's steps.
#include <stdexcept>

#include "api/protocol/operations.h"
#include "api/protocol/store_frame.h"

namespace velmo::api {
namespace {

// The session layer's steps (set-up from a bundle, encryption, decryption)
// are not part of the engine yet; until they are, a call that gets past the
// store build is an internal failure rather than a made-up result.
[[noreturn]] void StepNotBuilt(const char* operation) {
  throw std::logic_error(std::string(operation) +
                         ": the session step is not built yet");
}

}  // namespace

Outcome<DecryptResult> DecryptMessage(StoreSnapshot store, PeerAddress,
                                      SignalMessageKind, Bytes) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok()) return stores.error();
  StepNotBuilt("decrypt_message");
}

Outcome<EncryptResult> EncryptMessage(StoreSnapshot store, PeerAddress,
                                      SecretBytes) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok()) return stores.error();
  StepNotBuilt("encrypt_message");
}

Outcome<StoreChanges> ProcessPreKeyBundle(StoreSnapshot store, PeerAddress,
                                          PreKeyBundle) {
  Outcome<store::ProtocolStores> stores = BuildStores(std::move(store));
  if (!stores.ok()) return stores.error();
  StepNotBuilt("process_pre_key_bundle");
}

}  // namespace velmo::api
