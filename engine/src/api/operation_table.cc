#include "api/operation_table.h"

#include <string>

#include "api/standalone_operations.h"

namespace velmo::api {
namespace {

// One line per operation. To add one, write its handler (typed parameters in
// argument order, Outcome<Result> or Result back) and replace its NotBuilt
// line with Sync<&Handler>(number, name).
constexpr Operation kOperations[] = {
    Sync<&CiphertextVersion>(1, "ciphertext_version"),
    // store, address, kind, ciphertext -> DecryptResult
    NotBuilt(2, "decrypt_message", Mode::kSync),
    // store, address, plaintext -> EncryptResult
    NotBuilt(3, "encrypt_message", Mode::kSync),
    // -> GeneratedIdentityKeyPair
    NotBuilt(4, "generate_identity_key_pair", Mode::kSync),
    // identity key pair, start, count -> list of GeneratedPreKey
    NotBuilt(5, "generate_kyber_pre_keys", Mode::kSync),
    // start, count -> list of GeneratedPreKey
    NotBuilt(6, "generate_pre_keys", Mode::kSync),
    // -> uint32
    NotBuilt(7, "generate_registration_id", Mode::kSync),
    // identity key pair, id -> GeneratedPreKey
    NotBuilt(8, "generate_signed_pre_key", Mode::kSync),
    // identity key pair -> byte string
    NotBuilt(9, "identity_public_key", Mode::kSync),
    // identity key pair, message -> byte string
    NotBuilt(10, "identity_sign", Mode::kSync),
    // public key, message, signature -> boolean
    NotBuilt(11, "identity_verify", Mode::kSync),
    // ciphertext -> MessageInfo
    NotBuilt(12, "inspect_message", Mode::kSync),
    // record -> PublicPreKey
    NotBuilt(13, "kyber_pre_key_public_part", Mode::kSync),
    // record -> PublicPreKey
    NotBuilt(14, "pre_key_public_part", Mode::kSync),
    // private key, message -> byte string
    NotBuilt(15, "private_key_sign", Mode::kSync),
    // store, address, bundle -> StoreChanges
    NotBuilt(16, "process_pre_key_bundle", Mode::kSync),
    // private key -> byte string
    NotBuilt(17, "public_key_from_private", Mode::kSync),
    // session record -> SessionInfo
    NotBuilt(18, "session_info", Mode::kSync),
    // record -> PublicPreKey
    NotBuilt(19, "signed_pre_key_public_part", Mode::kSync),
    Async<&StoreChangesDefault>(20, "store_changes_default"),
    Async<&StoreSnapshotDefault>(21, "store_snapshot_default"),
};

constexpr bool NumberedInOrder() {
  int32_t expected = 1;
  for (const Operation& op : kOperations) {
    if (op.number != expected++) {
      return false;
    }
  }
  return expected == 22;
}
static_assert(NumberedInOrder(), "kOperations[i] must be operation i + 1");

}  // namespace

const Operation* FindOperation(int32_t number) {
  if (number < 1 || number > static_cast<int32_t>(std::size(kOperations))) {
    return nullptr;
  }
  return &kOperations[number - 1];
}

std::span<const Operation> AllOperations() {
  return kOperations;
}

namespace internal {

void InvokeNotBuilt(const Operation& self, bridge::Arguments&,
                    bridge::ByteWriter&) {
  throw bridge::Fault("operation " + std::to_string(self.number) + " (" +
                      self.name + ") is not available in this engine");
}

bool ReadNothing(bridge::ByteReader&) {
  return false;
}

}  // namespace internal
}  // namespace velmo::api
