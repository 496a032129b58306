#include "api/standalone_operations.h"

namespace velmo::api {

Outcome<uint8_t> CiphertextVersion(Bytes ciphertext) {
  if (ciphertext.empty()) {
    return EngineError{ErrorKind::InvalidArgument, "empty ciphertext"};
  }
  return static_cast<uint8_t>(ciphertext[0] >> 4);
}

StoreChanges StoreChangesDefault() {
  return StoreChanges{};
}

StoreSnapshot StoreSnapshotDefault() {
  return StoreSnapshot{};
}

}  // namespace velmo::api
