// Operations 12-14, 18 and 19: reading messages and records without a
// session.
#include "api/protocol/operations.h"
#include "api/protocol/store_frame.h"
#include "crypto/clock.h"
#include "protocol/keys.h"
#include "protocol/messages.h"
#include "protocol/records.h"
#include "protocol/session_state.h"

namespace velmo::api {
namespace {

Bytes ToBytes(crypto::ByteView v) { return Bytes(v.begin(), v.end()); }

// The public part of a signed or Kyber pre-key record; `read_key` reads the
// stored public key and gives it back encoded.
template <class ReadKey>
Outcome<PublicPreKey> SignedPublicPart(const SecretBytes& bytes,
                                       ReadKey read_key) {
  proto::Result<proto::SignedPreKeyRecordStructure> record =
      proto::ReadSignedPreKeyRecord(bytes);
  if (!record.ok()) return ToEngineError(record.error());
  proto::Result<Bytes> key = read_key(record->public_key);
  if (!key.ok()) return ToEngineError(key.error());
  return PublicPreKey{record->id, std::move(*key), record->signature};
}

proto::Result<Bytes> ReadX25519(crypto::ByteView stored) {
  proto::Result<crypto::PublicKey> key = proto::DecodePublicKey(stored);
  if (!key.ok()) return key.take_error();
  return ToBytes(key->Encode());
}

proto::Result<Bytes> ReadKyber(crypto::ByteView stored) {
  proto::Result<crypto::kyber1024::PublicKey> key =
      proto::DecodeKyberPublicKey(stored);
  if (!key.ok()) return key.take_error();
  return crypto::EncodeKyberPublicKey(*key);
}

}  // namespace

Outcome<MessageInfo> InspectMessage(Bytes ciphertext) {
  proto::Result<proto::PreKeySignalMessage> pre_key =
      proto::ReadPreKeySignalMessage(ciphertext);
  if (pre_key.ok()) {
    return MessageInfo{
        .kind = SignalMessageKind::PreKey,
        .version = pre_key->message_version,
        .registration_id = pre_key->registration_id,
        .pre_key_id = pre_key->pre_key_id,
        .signed_pre_key_id = pre_key->signed_pre_key_id,
        .kyber_pre_key_id = pre_key->kyber_pre_key_id,
        .identity_key = ToBytes(pre_key->identity_key.Encode()),
    };
  }
  // Not a pre-key message: what the caller hears about is why it is not an
  // ordinary message either.
  proto::Result<proto::SignalMessage> ordinary =
      proto::ReadSignalMessage(ciphertext);
  if (!ordinary.ok()) return ToEngineError(ordinary.error());
  MessageInfo info;
  info.kind = SignalMessageKind::Whisper;
  info.version = ordinary->message_version;
  return info;
}

Outcome<PublicPreKey> KyberPreKeyPublicPart(SecretBytes record) {
  return SignedPublicPart(record, ReadKyber);
}

Outcome<PublicPreKey> SignedPreKeyPublicPart(SecretBytes record) {
  return SignedPublicPart(record, ReadX25519);
}

Outcome<PublicPreKey> PreKeyPublicPart(SecretBytes bytes) {
  proto::Result<proto::PreKeyRecordStructure> record =
      proto::ReadPreKeyRecord(bytes);
  if (!record.ok()) return ToEngineError(record.error());
  proto::Result<Bytes> key = ReadX25519(record->public_key);
  if (!key.ok()) return ToEngineError(key.error());
  return PublicPreKey{record->id, std::move(*key), {}};
}

Outcome<SessionInfo> SessionInfoOf(SecretBytes bytes) {
  proto::Result<proto::RecordStructure> record =
      proto::ReadSessionRecord(bytes);
  if (!record.ok()) return ToEngineError(record.error());
  if (!record->current_session) {
    return ToEngineError(
        proto::errors::InvalidState("session_version", "No current session"));
  }
  const proto::SessionStructure& state = *record->current_session;
  return SessionInfo{
      .version = proto::SessionVersion(state),
      .post_quantum = !state.pq_ratchet_state.empty(),
      .usable = proto::IsUsableForSending(state, crypto::NowUnixSeconds()),
  };
}

}  // namespace velmo::api
