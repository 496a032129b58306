#include "protocol/messages.h"

#include <string>

#include "crypto/hmac.h"
#include "protocol/log.h"
#include "protocol/protobuf.h"

namespace velmo::proto {
namespace {

using Writer = pb::Writer<Bytes>;

// The bodies as decoded, every field with presence, so that readers can tell
// an absent field from a zero one. Byte fields view the input.
struct SignalBody {
  std::optional<ByteView> ratchet_key;       // 1
  std::optional<uint32_t> counter;           // 2
  std::optional<uint32_t> previous_counter;  // 3
  std::optional<ByteView> ciphertext;        // 4
  std::optional<ByteView> pq_ratchet;        // 5
};

struct PreKeyBody {
  std::optional<uint32_t> pre_key_id;         // 1
  std::optional<ByteView> base_key;           // 2
  std::optional<ByteView> identity_key;       // 3
  std::optional<ByteView> message;            // 4
  std::optional<uint32_t> registration_id;    // 5
  std::optional<uint32_t> signed_pre_key_id;  // 6
  std::optional<uint32_t> kyber_pre_key_id;   // 7
  std::optional<ByteView> kyber_ciphertext;   // 8
};

bool TakeBytes(pb::Reader& r, std::optional<ByteView>* out) {
  return r.ReadBytes(&out->emplace());
}

bool TakeUint32(pb::Reader& r, std::optional<uint32_t>* out) {
  return r.ReadUint32(&out->emplace());
}

bool DecodeBody(ByteView in, SignalBody* out) {
  return pb::ReadFields(in, 0, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return TakeBytes(r, &out->ratchet_key);
      case 2: return TakeUint32(r, &out->counter);
      case 3: return TakeUint32(r, &out->previous_counter);
      case 4: return TakeBytes(r, &out->ciphertext);
      case 5: return TakeBytes(r, &out->pq_ratchet);
      default: return r.Skip();
    }
  });
}

bool DecodeBody(ByteView in, PreKeyBody* out) {
  return pb::ReadFields(in, 0, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return TakeUint32(r, &out->pre_key_id);
      case 2: return TakeBytes(r, &out->base_key);
      case 3: return TakeBytes(r, &out->identity_key);
      case 4: return TakeBytes(r, &out->message);
      case 5: return TakeUint32(r, &out->registration_id);
      case 6: return TakeUint32(r, &out->signed_pre_key_id);
      case 7: return TakeUint32(r, &out->kyber_pre_key_id);
      case 8: return TakeBytes(r, &out->kyber_ciphertext);
      default: return r.Skip();
    }
  });
}

// CheckVersion reads the version nibble of the first byte (the input is not
// empty) and checks it is one we speak.
Result<uint8_t> CheckVersion(ByteView in) {
  uint8_t version = in[0] >> 4;
  if (version < kMinMessageVersion) {
    return errors::LegacyCiphertextVersion(version);
  }
  if (version > kCurrentMessageVersion) {
    return errors::UnrecognizedCiphertextVersion(version);
  }
  return version;
}

// ComputeMac is HMAC-SHA256(mac_key, sender ‖ receiver ‖ authenticated)
// cut to its first 8 bytes.
Result<crypto::SecretArray<kMacBytes>> ComputeMac(
    ByteView mac_key, const PublicKey& sender_identity,
    const PublicKey& receiver_identity, ByteView authenticated) {
  if (mac_key.size() != kMacKeyBytes) {
    return errors::InvalidMacKeyLength(mac_key.size());
  }
  crypto::HmacSha256Key key(mac_key);
  crypto::HmacSha256 mac(key);
  mac.Update(sender_identity.Encode());
  mac.Update(receiver_identity.Encode());
  mac.Update(authenticated);
  crypto::SecretArray<crypto::kHmacSha256Bytes> full = mac.Finish();
  crypto::SecretArray<kMacBytes> out;
  std::copy(full.data(), full.data() + kMacBytes, out.data());
  return out;
}

Bytes ToBytes(ByteView v) { return Bytes(v.begin(), v.end()); }

}  // namespace

uint8_t VersionByte(uint8_t message_version) {
  return static_cast<uint8_t>((message_version << 4) | kCurrentMessageVersion);
}

Result<Bytes> BuildSignalMessage(const SignalMessageFields& fields,
                                 ByteView mac_key,
                                 const PublicKey& sender_identity,
                                 const PublicKey& receiver_identity) {
  Bytes out;
  // Room for everything, so the buffer never moves while it is written.
  out.reserve(64 + fields.ciphertext.size() + fields.pq_ratchet.size());
  out.push_back(VersionByte(fields.message_version));
  Writer w(&out);
  w.BytesPresent(1, fields.ratchet_key.Encode());
  w.Uint32Present(2, fields.counter);
  w.Uint32Present(3, fields.previous_counter);
  w.BytesPresent(4, fields.ciphertext);
  w.Bytes(5, fields.pq_ratchet);
  Result<crypto::SecretArray<kMacBytes>> mac =
      ComputeMac(mac_key, sender_identity, receiver_identity, out);
  if (!mac.ok()) return mac.take_error();
  out.insert(out.end(), mac->data(), mac->data() + kMacBytes);
  return out;
}

Result<SignalMessage> ReadSignalMessage(ByteView in) {
  if (in.size() <= kMacBytes) {
    return errors::CiphertextTooShort(in.size());
  }
  Result<uint8_t> version = CheckVersion(in);
  if (!version.ok()) return version.take_error();

  SignalBody body;
  if (!DecodeBody(in.subspan(1, in.size() - 1 - kMacBytes), &body) ||
      !body.ratchet_key) {
    return errors::InvalidProtobuf();
  }
  Result<PublicKey> ratchet_key = DecodePublicKey(*body.ratchet_key);
  if (!ratchet_key.ok()) return ratchet_key.take_error();
  if (!body.counter || !body.ciphertext) {
    return errors::InvalidProtobuf();
  }
  return SignalMessage{
      .message_version = *version,
      .ratchet_key = std::move(*ratchet_key),
      .counter = *body.counter,
      .previous_counter = body.previous_counter.value_or(0),
      .ciphertext = ToBytes(*body.ciphertext),
      .pq_ratchet = ToBytes(body.pq_ratchet.value_or(ByteView())),
      .serialized = ToBytes(in),
  };
}

Result<bool> VerifyMac(const SignalMessage& message,
                       const PublicKey& sender_identity,
                       const PublicKey& receiver_identity, ByteView mac_key) {
  ByteView whole = message.serialized;
  ByteView authenticated = whole.first(whole.size() - kMacBytes);
  ByteView theirs = whole.last(kMacBytes);
  Result<crypto::SecretArray<kMacBytes>> ours =
      ComputeMac(mac_key, sender_identity, receiver_identity, authenticated);
  if (!ours.ok()) return ours.take_error();
  bool valid = crypto::ct_equal(theirs, *ours);
  if (!valid && log::Enabled(log::Level::kWarning)) {
    log::Write(log::Level::kWarning,
               "Bad Mac! Their Mac: " + Hex(theirs.data(), kMacBytes) +
                   " Our Mac: " + Hex(ours->data(), kMacBytes));
  }
  return valid;
}

Bytes BuildPreKeySignalMessage(const PreKeySignalMessageFields& fields) {
  Bytes out;
  out.reserve(128 + fields.message.size() + fields.kyber_ciphertext.size());
  out.push_back(VersionByte(fields.message_version));
  Writer w(&out);
  if (fields.pre_key_id) w.Uint32Present(1, *fields.pre_key_id);
  w.BytesPresent(2, fields.base_key.Encode());
  w.BytesPresent(3, fields.identity_key.Encode());
  w.BytesPresent(4, fields.message);
  w.Uint32Present(5, fields.registration_id);
  w.Uint32Present(6, fields.signed_pre_key_id);
  if (fields.kyber_pre_key_id) {
    w.Uint32Present(7, *fields.kyber_pre_key_id);
    w.BytesPresent(8, fields.kyber_ciphertext);
  }
  return out;
}

Result<PreKeySignalMessage> ReadPreKeySignalMessage(ByteView in) {
  if (in.empty()) {
    return errors::CiphertextTooShort(0);
  }
  Result<uint8_t> version = CheckVersion(in);
  if (!version.ok()) return version.take_error();

  PreKeyBody body;
  if (!DecodeBody(in.subspan(1), &body) || !body.base_key ||
      !body.identity_key || !body.message || !body.signed_pre_key_id) {
    return errors::InvalidProtobuf();
  }
  Result<PublicKey> base_key = DecodePublicKey(*body.base_key);
  if (!base_key.ok()) return base_key.take_error();
  if (body.kyber_pre_key_id.has_value() != body.kyber_ciphertext.has_value()) {
    return errors::InvalidMessage(
        MessageType::kPreKey,
        "Both or neither kyber pre_key_id and kyber_ciphertext can be present");
  }
  if (!body.kyber_pre_key_id && *version == 4) {
    return errors::InvalidMessage(
        MessageType::kPreKey,
        "Kyber pre key must be present for this session version");
  }
  Result<PublicKey> identity_key = DecodePublicKey(*body.identity_key);
  if (!identity_key.ok()) return identity_key.take_error();
  Result<SignalMessage> message = ReadSignalMessage(*body.message);
  if (!message.ok()) return message.take_error();

  return PreKeySignalMessage{
      .message_version = *version,
      .registration_id = body.registration_id.value_or(0),
      .pre_key_id = body.pre_key_id,
      .signed_pre_key_id = *body.signed_pre_key_id,
      .kyber_pre_key_id = body.kyber_pre_key_id,
      .kyber_ciphertext = ToBytes(body.kyber_ciphertext.value_or(ByteView())),
      .base_key = std::move(*base_key),
      .identity_key = std::move(*identity_key),
      .message = std::move(*message),
      .serialized = ToBytes(in),
  };
}

}  // namespace velmo::proto
