#include "api/protocol/session_cipher.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "api/protocol/ratchet_keys.h"
#include "api/protocol/session_log.h"
#include "crypto/aes_cbc.h"
#include "protocol/pq/ratchet.h"
#include "protocol/session_state.h"

namespace velmo::api {
namespace {

using proto::Error;
using proto::MessageType;
using proto::PublicKey;
using proto::Result;
using proto::SessionStructure;
using session_log::HexOf;
namespace errors = proto::errors;

bool WithOneself(const SessionStructure& state) {
  return state.local_identity_public == state.remote_identity_public;
}

bool IsStale(const proto::PendingPreKey& pending, uint64_t now_seconds) {
  // Written so that a timestamp near the top of the range cannot wrap.
  return now_seconds > pending.timestamp &&
         now_seconds - pending.timestamp >
             proto::kMaxUnacknowledgedSessionAgeSeconds;
}

// The message key of counter `counter` in `chain`, taken from the kept keys
// (an earlier message that was skipped) or by stepping the chain forward
// and keeping the seeds passed over. Either way the chain changes.
Result<proto::KeptMessageKey> TakeMessageSeed(proto::Chain& chain,
                                              const proto::SignalMessage& m,
                                              MessageType type,
                                              bool with_oneself) {
  Result<ChainKeyValue> chain_key = proto::ReceiverChainKey(chain);
  if (!chain_key.ok())
    return chain_key.error();
  const uint32_t index = chain_key->index;
  const uint32_t counter = m.counter;

  if (counter < index) {
    Result<std::optional<proto::KeptMessageKey>> kept =
        proto::TakeMessageKey(chain, counter);
    if (!kept.ok())
      return kept.error();
    if (!kept->has_value()) {
      session_log::Line(log::Level::kInfo,
                        "Duplicate message for counter: ", counter);
      return errors::DuplicatedMessage(index, counter);
    }
    return std::move(**kept);
  }

  const uint32_t jump = counter - index;
  if (jump > kMaxForwardJump) {
    if (!with_oneself) {
      session_log::Line(log::Level::kError,
                        "Exceeded future message limit: ", kMaxForwardJump,
                        ", index: ", index, ", counter: ", counter, ")");
      return errors::InvalidMessage(type,
                                    "message from too far into the future");
    }
    session_log::Line(log::Level::kInfo, "Jumping ahead ", jump,
                      " messages (index: ", index, ", counter: ", counter, ")");
  }

  // Only the newest kept keys survive, so the seeds of older skipped
  // messages are stepped over without being collected.
  const uint32_t first_kept =
      jump > proto::kMaxMessageKeys
          ? counter - static_cast<uint32_t>(proto::kMaxMessageKeys)
          : index;
  std::vector<proto::MessageKey> skipped;
  skipped.reserve(counter - first_kept);
  ChainKeyValue current = *chain_key;
  while (current.index < counter) {
    ChainStep step = StepChain(current);
    if (current.index >= first_kept) {
      proto::MessageKey& kept = skipped.emplace_back();
      kept.index = current.index;
      kept.seed.assign(step.seed);
    }
    current = step.next;
  }
  ChainStep step = StepChain(current);
  proto::SetReceiverChainKey(chain, step.next);
  if (!skipped.empty()) {
    proto::KeepMessageKeys(chain, std::move(skipped));
  }
  return proto::KeptMessageKey(proto::KeyBytes(step.seed));
}

// DecryptWithState is one attempt with one state, which it updates in
// place; the caller hands in a state it can throw away on failure.
Result<SecretBytes> DecryptWithState(SessionStructure& state,
                                     const proto::SignalMessage& message,
                                     MessageType type,
                                     const StepContext& context) {
  if (state.root_key.size() != 32) {
    return errors::InvalidMessage(type, "No session available to decrypt");
  }
  if (message.message_version != proto::SessionVersion(state)) {
    return errors::UnrecognizedMessageVersion(message.message_version);
  }

  Result<proto::Chain*> found =
      proto::FindReceiverChain(state, message.ratchet_key);
  if (!found.ok())
    return found.error();
  proto::Chain* chain = *found;
  if (chain == nullptr) {
    const auto their_key = message.ratchet_key.Encode();
    session_log::Line(log::Level::kInfo, HexOf{their_key},
                      " creating new chains.");
    Result<proto::PrivateKey> our_private =
        proto::SenderRatchetPrivateKey(state);
    if (!our_private.ok())
      return our_private.error();
    // Their new ratchet key opens a receiving chain; a fresh key of ours
    // opens the next sending chain.
    const RootStepResult receiving =
        RootStep(state.root_key, *our_private, message.ratchet_key);
    const proto::KeyPair fresh = proto::KeyPair::Generate(context.rng);
    const RootStepResult sending =
        RootStep(receiving.root_key, fresh.private_key, message.ratchet_key);
    const std::optional<proto::ChainKey>& old_sending =
        state.sender_chain->chain_key;
    const uint32_t old_index = old_sending ? old_sending->index : 0;

    state.root_key.assign(sending.root_key);
    proto::AddReceiverChain(state, message.ratchet_key, receiving.chain_key);
    state.previous_counter = old_index == 0 ? 0 : old_index - 1;
    proto::SetSenderChain(state, fresh, sending.chain_key);
    chain = &state.receiver_chains.back();
  } else {
    session_log::Line(log::Level::kDebug, HexOf{message.ratchet_key.Encode()},
                      " has existing receiver chain.");
  }

  Result<proto::KeptMessageKey> seed =
      TakeMessageSeed(*chain, message, type, WithOneself(state));
  if (!seed.ok())
    return seed.error();

  pq::Result<pq::ReceiveResult> pq_step =
      pq::Receive(state.pq_ratchet_state, message.pq_ratchet);
  if (!pq_step.ok()) {
    if (pq_step.error().code == pq::ErrorCode::kStateDecode) {
      return errors::InvalidState(
          "decrypt_message_with_state",
          "post-quantum ratchet error: " + pq_step.error().message);
    }
    session_log::Line(log::Level::kError,
                      "post-quantum ratchet error in "
                      "decrypt_message_with_state: ",
                      pq_step.error().message);
    return errors::InvalidMessage(type, "post-quantum ratchet error");
  }
  state.pq_ratchet_state = std::move(pq_step->state);

  MessageKeys keys;
  if (const auto* from_seed = std::get_if<proto::KeyBytes>(&*seed)) {
    keys = DeriveMessageKeys(*from_seed, pq_step->key);
  } else {
    // Keys stored explicitly by some other writer cannot take the
    // post-quantum salt; such a message has no defined key.
    if (pq_step->key) {
      session_log::Line(log::Level::kError,
                        "explicit message keys for counter ", message.counter,
                        " cannot take a post-quantum key");
      return errors::InvalidMessage(type, "failed to decrypt");
    }
    const auto& stored = std::get<proto::ExplicitMessageKeys>(*seed);
    keys.cipher_key = stored.cipher_key;
    keys.mac_key = stored.mac_key;
    keys.iv = stored.iv;
  }

  Result<std::optional<PublicKey>> peer = proto::RemoteIdentityKey(state);
  if (!peer.ok())
    return peer.error();
  if (!peer->has_value()) {
    return errors::InvalidSession("cannot decrypt without remote identity key");
  }
  Result<PublicKey> own = proto::LocalIdentityKey(state);
  if (!own.ok())
    return own.error();
  Result<bool> mac_ok = proto::VerifyMac(message, **peer, *own, keys.mac_key);
  if (!mac_ok.ok())
    return mac_ok.error();
  if (!*mac_ok) {
    return errors::InvalidMessage(type, "MAC verification failed");
  }

  std::optional<Bytes> plaintext =
      crypto::Aes256CbcDecrypt(keys.cipher_key, keys.iv, message.ciphertext);
  if (!plaintext) {
    session_log::Line(log::Level::kWarning, "failed to decrypt 1:1 message: ",
                      "bad ciphertext length or padding");
    return errors::InvalidMessage(type, "failed to decrypt");
  }
  SecretBytes out(plaintext->begin(), plaintext->end());
  crypto::secure_wipe(plaintext->data(), plaintext->size());

  // The peer has answered: later messages of this state are ordinary ones.
  proto::ClearPendingPreKey(state);
  return out;
}

void LogFailedAttempt(const char* which, const Error& error) {
  session_log::Line(log::Level::kWarning, "decryption with ", which,
                    " session state failed: ", error.message);
}

}  // namespace

Result<EncryptedMessage> EncryptFor(store::ProtocolStores& stores,
                                    const PeerAddress& address,
                                    ByteView plaintext,
                                    const StepContext& context) {
  std::optional<proto::RecordStructure> record =
      stores.sessions.LoadSession(address);
  if (!record || !record->current_session) {
    return errors::SessionNotFound(address.ToString());
  }
  SessionStructure& state = *record->current_session;

  Result<ChainKeyValue> chain_key = proto::SenderChainKey(state);
  if (!chain_key.ok())
    return chain_key.error();
  const ChainStep step = StepChain(*chain_key);

  pq::Result<pq::SendResult> pq_step =
      pq::Send(state.pq_ratchet_state, context.rng);
  if (!pq_step.ok()) {
    return errors::InvalidState(
        "message_encrypt",
        "post-quantum ratchet send error: " + pq_step.error().message);
  }
  state.pq_ratchet_state = std::move(pq_step->state);
  const MessageKeys keys = DeriveMessageKeys(step.seed, pq_step->key);

  Result<PublicKey> ratchet_key = proto::SenderRatchetKey(state);
  if (!ratchet_key.ok())
    return ratchet_key.error();
  const uint32_t session_version = proto::SessionVersion(state);
  if (session_version > 0xFF) {
    return errors::InvalidSession("version does not fit in u8");
  }
  const uint8_t version = static_cast<uint8_t>(session_version);

  Result<PublicKey> own = proto::LocalIdentityKey(state);
  if (!own.ok())
    return own.error();
  Result<std::optional<PublicKey>> peer = proto::RemoteIdentityKey(state);
  if (!peer.ok())
    return peer.error();
  if (!peer->has_value()) {
    return errors::InvalidState(
        "message_encrypt", "no remote identity key for " + address.ToString());
  }
  const PublicKey& peer_identity = **peer;

  const Bytes ciphertext =
      crypto::Aes256CbcEncrypt(keys.cipher_key, keys.iv, plaintext);

  Result<std::optional<PublicKey>> base_key =
      proto::PendingPreKeyBaseKey(state);
  if (!base_key.ok())
    return base_key.error();
  const proto::SignalMessageFields fields{
      version,    *ratchet_key,    chain_key->index, state.previous_counter,
      ciphertext, pq_step->message};
  EncryptedMessage out{SignalMessageKind::Whisper, version, {}};
  if (base_key->has_value()) {
    const proto::PendingPreKey& pending = *state.pending_pre_key;
    if (IsStale(pending, context.now_seconds)) {
      session_log::Line(log::Level::kWarning,
                        "stale unacknowledged session for ", address,
                        " (created at ", pending.timestamp, ")");
      return errors::SessionNotFound(address.ToString());
    }
    session_log::Line(log::Level::kDebug,
                      "Building PreKeyWhisperMessage for: ", address,
                      " with preKeyId: ",
                      pending.pre_key_id ? std::to_string(*pending.pre_key_id)
                                         : std::string("<none>"),
                      " (session created at ", pending.timestamp, ")");
    Result<Bytes> inner =
        proto::BuildSignalMessage(fields, keys.mac_key, *own, peer_identity);
    if (!inner.ok())
      return inner.error();
    const proto::PendingKyberPreKey* kyber =
        state.pending_kyber_pre_key ? &*state.pending_kyber_pre_key : nullptr;
    out.kind = SignalMessageKind::PreKey;
    out.bytes = proto::BuildPreKeySignalMessage(
        {version, state.local_registration_id, pending.pre_key_id,
         static_cast<uint32_t>(pending.signed_pre_key_id),
         kyber ? std::optional<uint32_t>(kyber->pre_key_id) : std::nullopt,
         kyber ? ByteView(kyber->ciphertext) : ByteView(), **base_key, *own,
         *inner});
  } else {
    Result<Bytes> message =
        proto::BuildSignalMessage(fields, keys.mac_key, *own, peer_identity);
    if (!message.ok())
      return message.error();
    out.bytes = std::move(*message);
  }

  proto::SetSenderChainKey(state, step.next);

  if (!stores.identity.IsTrustedIdentity(address, peer_identity,
                                         store::Direction::kSending)) {
    session_log::Line(log::Level::kWarning, "Identity key ",
                      HexOf{peer_identity.Encode()},
                      " is not trusted for remote address ", address);
    return errors::UntrustedIdentity(address.ToString());
  }
  stores.identity.SaveIdentity(address, peer_identity);
  stores.sessions.StoreSession(address, std::move(*record));
  return out;
}

Result<SecretBytes> DecryptWithRecord(proto::RecordStructure& record,
                                      const PeerAddress& address,
                                      const proto::SignalMessage& message,
                                      MessageType type,
                                      const StepContext& context) {
  const std::string_view type_name = proto::MessageTypeName(type);
  if (record.current_session) {
    SessionStructure trial = *record.current_session;
    Result<SecretBytes> plain = DecryptWithState(trial, message, type, context);
    if (plain.ok()) {
      session_log::Line(log::Level::kInfo, "decrypted ", type_name,
                        " message from ", address,
                        " with current session state (base key ",
                        HexOf{trial.alice_base_key}, ")");
      record.current_session = std::move(trial);
      return plain;
    }
    if (plain.error().code == proto::ErrorCode::kDuplicatedMessage) {
      return plain.take_error();
    }
    LogFailedAttempt("current", plain.error());
    // A pre-key message names its session by base key, so only the state
    // found or made for it can be the right one.
    if (type == MessageType::kPreKey) {
      return errors::InvalidMessage(type, "decryption failed");
    }
  }

  for (size_t i = 0; i < record.previous_sessions.size(); i++) {
    Result<SessionStructure> archived = proto::ArchivedState(record, i);
    if (!archived.ok())
      return archived.error();
    Result<SecretBytes> plain =
        DecryptWithState(*archived, message, type, context);
    if (plain.ok()) {
      session_log::Line(log::Level::kInfo, "decrypted ", type_name,
                        " message from ", address,
                        " with PREVIOUS session state (base key ",
                        HexOf{archived->alice_base_key}, ")");
      proto::PromoteArchivedState(record, i, std::move(*archived));
      return plain;
    }
    if (plain.error().code == proto::ErrorCode::kDuplicatedMessage) {
      return plain.take_error();
    }
    LogFailedAttempt("previous", plain.error());
  }

  if (record.current_session) {
    session_log::Line(
        log::Level::kError, "No valid session for recipient: ", address,
        ", current session base key ",
        HexOf{record.current_session->alice_base_key},
        ", number of previous states: ", record.previous_sessions.size());
  } else {
    session_log::Line(log::Level::kError,
                      "No valid session for recipient: ", address,
                      ", (no current session state), number of previous "
                      "states: ",
                      record.previous_sessions.size());
  }
  return errors::InvalidMessage(type, "decryption failed");
}

Result<SecretBytes> DecryptOrdinary(store::ProtocolStores& stores,
                                    const PeerAddress& address,
                                    ByteView bytes,
                                    const StepContext& context) {
  Result<proto::SignalMessage> message = proto::ReadSignalMessage(bytes);
  if (!message.ok())
    return message.error();
  std::optional<proto::RecordStructure> record =
      stores.sessions.LoadSession(address);
  if (!record) {
    return errors::SessionNotFound(address.ToString());
  }
  Result<SecretBytes> plain = DecryptWithRecord(*record, address, *message,
                                                MessageType::kWhisper, context);
  if (!plain.ok())
    return plain;

  // Whichever state decrypted is now the current one, and it has a peer
  // identity (decryption needs one).
  Result<std::optional<PublicKey>> peer =
      proto::RemoteIdentityKey(*record->current_session);
  if (!peer.ok())
    return peer.error();
  if (!peer->has_value()) {
    return errors::InvalidSession("cannot decrypt without remote identity key");
  }
  if (!stores.identity.IsTrustedIdentity(address, **peer,
                                         store::Direction::kReceiving)) {
    session_log::Line(log::Level::kWarning, "Identity key ",
                      HexOf{(*peer)->Encode()},
                      " is not trusted for remote address ", address);
    return errors::UntrustedIdentity(address.ToString());
  }
  stores.identity.SaveIdentity(address, **peer);
  stores.sessions.StoreSession(address, std::move(*record));
  return plain;
}

}  // namespace velmo::api
