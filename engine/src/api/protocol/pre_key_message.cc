#include "api/protocol/pre_key_message.h"

#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "api/protocol/ratchet_keys.h"
#include "api/protocol/session_cipher.h"
#include "api/protocol/session_log.h"
#include "crypto/kyber1024.h"
#include "protocol/messages.h"
#include "protocol/pq/ratchet.h"
#include "protocol/session_state.h"

namespace velmo::api {
namespace {

using proto::PreKeySignalMessage;
using proto::PublicKey;
using proto::Result;
using proto::SessionStructure;
namespace errors = proto::errors;

// A stored X25519 pre-key pair, read as its record holds it.
struct StoredKeyPair {
  PublicKey public_key;
  proto::PrivateKey private_key;
};

Result<StoredKeyPair> ReadKeyPair(const proto::KeyBytes& public_key,
                                  const proto::KeyBytes& private_key) {
  Result<PublicKey> pub = proto::DecodePublicKey(public_key);
  if (!pub.ok())
    return pub.error();
  Result<proto::PrivateKey> priv = proto::DecodePrivateKey(private_key);
  if (!priv.ok())
    return priv.error();
  return StoredKeyPair{*pub, std::move(*priv)};
}

bool NamesState(const SessionStructure& state,
                const PreKeySignalMessage& message) {
  const auto base_key = message.base_key.Encode();
  return proto::SessionVersion(state) == message.message_version &&
         crypto::ct_equal(state.alice_base_key.view(), base_key);
}

// FindNamedState makes the state the message names the current one, when
// the record has it. True when it was found.
Result<bool> FindNamedState(proto::RecordStructure& record,
                            const PreKeySignalMessage& message) {
  if (record.current_session && NamesState(*record.current_session, message)) {
    return true;
  }
  for (size_t i = 0; i < record.previous_sessions.size(); i++) {
    Result<SessionStructure> archived = proto::ArchivedState(record, i);
    if (!archived.ok())
      return archived.error();
    if (NamesState(*archived, message)) {
      proto::PromoteArchivedState(record, i, std::move(*archived));
      return true;
    }
  }
  return false;
}

// What setting up a new state used up, to be consumed once the whole call
// has succeeded.
struct UsedPreKeys {
  std::optional<uint32_t> pre_key_id;
  std::optional<uint32_t> kyber_pre_key_id;
};

Result<UsedPreKeys> SetUpState(store::ProtocolStores& stores,
                               const PeerAddress& address,
                               const PreKeySignalMessage& message,
                               proto::RecordStructure& record) {
  Result<proto::SignedPreKeyRecordStructure> signed_record =
      stores.signed_pre_keys.GetSignedPreKey(message.signed_pre_key_id);
  if (!signed_record.ok())
    return signed_record.error();
  Result<StoredKeyPair> signed_pre_key =
      ReadKeyPair(signed_record->public_key, signed_record->private_key);
  if (!signed_pre_key.ok())
    return signed_pre_key.error();

  std::optional<crypto::kyber1024::SecretKey> kyber_secret;
  if (message.kyber_pre_key_id) {
    Result<proto::SignedPreKeyRecordStructure> kyber_record =
        stores.kyber_pre_keys.GetKyberPreKey(*message.kyber_pre_key_id);
    if (!kyber_record.ok())
      return kyber_record.error();
    Result<crypto::kyber1024::PublicKey> kyber_public =
        proto::DecodeKyberPublicKey(kyber_record->public_key);
    if (!kyber_public.ok())
      return kyber_public.error();
    Result<crypto::kyber1024::SecretKey> secret =
        proto::DecodeKyberSecretKey(kyber_record->private_key);
    if (!secret.ok())
      return secret.error();
    kyber_secret = std::move(*secret);
  }

  std::optional<StoredKeyPair> one_time;
  if (message.pre_key_id) {
    Result<proto::PreKeyRecordStructure> pre_key_record =
        stores.pre_keys.GetPreKey(*message.pre_key_id);
    if (!pre_key_record.ok())
      return pre_key_record.error();
    Result<StoredKeyPair> pair =
        ReadKeyPair(pre_key_record->public_key, pre_key_record->private_key);
    if (!pair.ok())
      return pair.error();
    one_time = std::move(*pair);
    session_log::Line(log::Level::kInfo, "processing PreKey message from ",
                      address);
  } else {
    session_log::Line(log::Level::kInfo, "processing PreKey message from ",
                      address, " which had no one-time prekey");
  }

  const proto::IdentityKeyPair& own = stores.identity.GetIdentityKeyPair();
  // The initiator's DH1..DH4, seen from this side: DH(SPK_B, IK_A),
  // DH(IK_B, EK_A), DH(SPK_B, EK_A), DH(OPK_B, EK_A).
  SecretInput input;
  input.AddAgreement(signed_pre_key->private_key, message.identity_key);
  input.AddAgreement(own.private_key, message.base_key);
  input.AddAgreement(signed_pre_key->private_key, message.base_key);
  if (one_time) {
    input.AddAgreement(one_time->private_key, message.base_key);
  }
  if (kyber_secret) {
    Result<crypto::kyber1024::Ciphertext> ciphertext =
        proto::DecodeKyberCiphertext(message.kyber_ciphertext);
    if (!ciphertext.ok())
      return ciphertext.error();
    input.Add(crypto::kyber1024::Decapsulate(*kyber_secret, *ciphertext));
  }
  const SessionSecrets secrets =
      input.Derive(kyber_secret ? kPqxdhInfo : kX3dhInfo);

  pq::CreateParams pq_params;
  pq_params.auth_key = secrets.pq_auth_key;
  pq_params.direction = 1;
  if (own.public_key.Equals(message.identity_key)) {
    pq_params.max_jump = std::numeric_limits<uint32_t>::max();
  }
  pq::Result<SecretBytes> pq_state = pq::CreateState(pq_params);
  if (!pq_state.ok()) {
    return errors::InvalidArgument(
        "post-quantum ratchet: error creating initial B2A state: " +
        pq_state.error().message);
  }

  SessionStructure state;
  state.session_version = kyber_secret ? 4 : 3;
  state.local_identity_public.assign(own.public_key.Encode());
  state.remote_identity_public.assign(message.identity_key.Encode());
  state.root_key.assign(secrets.root_key);
  state.alice_base_key.assign(message.base_key.Encode());
  // The signed pre-key was the peer's first view of our ratchet key, so it
  // is the ratchet key of our first sending chain.
  proto::Chain& sending = state.sender_chain.emplace();
  sending.sender_ratchet_key.assign(signed_pre_key->public_key.Encode());
  sending.sender_ratchet_key_private.assign(
      signed_pre_key->private_key.bytes());
  sending.chain_key =
      proto::ChainKey{0, proto::KeyBytes(secrets.chain_key.key)};
  state.pq_ratchet_state = std::move(pq_state.value());
  state.local_registration_id = stores.identity.GetLocalRegistrationId();
  state.remote_registration_id = message.registration_id;
  proto::ArchiveCurrentState(record, std::move(state));

  return UsedPreKeys{message.pre_key_id, message.kyber_pre_key_id};
}

}  // namespace

Result<SecretBytes> DecryptPreKeyMessage(store::ProtocolStores& stores,
                                         const PeerAddress& address,
                                         ByteView bytes,
                                         const StepContext& context) {
  Result<PreKeySignalMessage> message = proto::ReadPreKeySignalMessage(bytes);
  if (!message.ok())
    return message.error();
  proto::RecordStructure record =
      stores.sessions.LoadSession(address).value_or(proto::RecordStructure{});
  if (!stores.identity.IsTrustedIdentity(address, message->identity_key,
                                         store::Direction::kReceiving)) {
    return errors::UntrustedIdentity(address.ToString());
  }

  Result<bool> found = FindNamedState(record, *message);
  if (!found.ok())
    return found.error();
  UsedPreKeys used;
  if (!*found) {
    Result<UsedPreKeys> set_up = SetUpState(stores, address, *message, record);
    if (!set_up.ok())
      return set_up.error();
    used = *set_up;
  }

  stores.identity.SaveIdentity(address, message->identity_key);
  Result<SecretBytes> plain = DecryptWithRecord(
      record, address, message->message, proto::MessageType::kPreKey, context);
  if (!plain.ok())
    return plain;

  stores.sessions.StoreSession(address, std::move(record));
  if (used.pre_key_id) {
    stores.pre_keys.RemovePreKey(*used.pre_key_id);
  }
  if (used.kyber_pre_key_id) {
    stores.kyber_pre_keys.MarkKyberPreKeyUsed(*used.kyber_pre_key_id);
  }
  return plain;
}

}  // namespace velmo::api
