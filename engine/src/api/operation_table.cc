#include "api/operation_table.h"

#include <string>

#include "api/protocol/operations.h"
#include "api/standalone_operations.h"

namespace velmo::api {
namespace {

// One line per operation. To add one, write its handler (typed parameters in
// argument order, Outcome<Result> or Result back) and replace its NotBuilt
// line with Sync<&Handler>(number, name).
constexpr Operation kOperations[] = {
    Sync<&CiphertextVersion>(1, "ciphertext_version"),
    // store, address, kind, ciphertext -> DecryptResult
    Sync<&DecryptMessage>(2, "decrypt_message"),
    // store, address, plaintext -> EncryptResult
    Sync<&EncryptMessage>(3, "encrypt_message"),
    // -> GeneratedIdentityKeyPair
    Sync<&GenerateIdentityKeyPair>(4, "generate_identity_key_pair"),
    // identity key pair, start, count -> list of GeneratedPreKey
    Sync<&GenerateKyberPreKeys>(5, "generate_kyber_pre_keys"),
    // start, count -> list of GeneratedPreKey
    Sync<&GeneratePreKeys>(6, "generate_pre_keys"),
    // -> uint32
    Sync<&GenerateRegistrationId>(7, "generate_registration_id"),
    // identity key pair, id -> GeneratedPreKey
    Sync<&GenerateSignedPreKey>(8, "generate_signed_pre_key"),
    // identity key pair -> byte string
    Sync<&IdentityPublicKey>(9, "identity_public_key"),
    // identity key pair, message -> byte string
    Sync<&IdentitySign>(10, "identity_sign"),
    // public key, message, signature -> boolean
    Sync<&IdentityVerify>(11, "identity_verify"),
    // ciphertext -> MessageInfo
    Sync<&InspectMessage>(12, "inspect_message"),
    // record -> PublicPreKey
    Sync<&KyberPreKeyPublicPart>(13, "kyber_pre_key_public_part"),
    // record -> PublicPreKey
    Sync<&PreKeyPublicPart>(14, "pre_key_public_part"),
    // private key, message -> byte string
    Sync<&PrivateKeySign>(15, "private_key_sign"),
    // store, address, bundle -> StoreChanges
    Sync<&ProcessPreKeyBundle>(16, "process_pre_key_bundle"),
    // private key -> byte string
    Sync<&PublicKeyFromPrivate>(17, "public_key_from_private"),
    // session record -> SessionInfo
    Sync<&SessionInfoOf>(18, "session_info"),
    // record -> PublicPreKey
    Sync<&SignedPreKeyPublicPart>(19, "signed_pre_key_public_part"),
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
