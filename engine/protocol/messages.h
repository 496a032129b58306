// The two wire messages peers exchange: the ordinary message (type 2,
// `Whisper`) with its truncated MAC, and the pre-key message (type 3,
// `PreKey`) that wraps an ordinary message with what the receiver needs to
// set the session up. Interworking depends on every byte here.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/error.h"
#include "protocol/keys.h"

namespace velmo::proto {

// The highest message version this engine speaks; the low nibble of every
// version byte it writes.
inline constexpr uint8_t kCurrentMessageVersion = 4;
// Versions a reader accepts (the high nibble of the version byte).
inline constexpr uint8_t kMinMessageVersion = 3;
// The MAC appended to an ordinary message: the first 8 bytes of HMAC-SHA256.
inline constexpr size_t kMacBytes = 8;
inline constexpr size_t kMacKeyBytes = 32;

// VersionByte is (version × 16 + 4) modulo 256.
uint8_t VersionByte(uint8_t message_version);

// An ordinary message as read.
struct SignalMessage {
  uint8_t message_version;  // the high nibble of the version byte
  PublicKey ratchet_key;
  uint32_t counter;
  uint32_t previous_counter;  // absent reads as 0
  Bytes ciphertext;
  Bytes pq_ratchet;  // empty when the message has no post-quantum part
  Bytes serialized;  // the whole input, for MAC verification
};

// What an ordinary message is built from.
struct SignalMessageFields {
  uint8_t message_version;
  const PublicKey& ratchet_key;
  uint32_t counter;
  uint32_t previous_counter;
  ByteView ciphertext;
  ByteView pq_ratchet;  // may be empty
};

// BuildSignalMessage writes the version byte, the body and the MAC computed
// with `mac_key` over the sender's and the receiver's identity keys and the
// bytes before it. Fails only for a MAC key that is not 32 bytes:
// "invalid MAC key length <n>".
Result<Bytes> BuildSignalMessage(const SignalMessageFields& fields,
                                 ByteView mac_key,
                                 const PublicKey& sender_identity,
                                 const PublicKey& receiver_identity);

// ReadSignalMessage checks, in this order: the length ("ciphertext
// serialized bytes were too short <n>" for 8 bytes or fewer), the version
// ("ciphertext version was too old <v>", "... was unrecognized <v>"), the
// body ("protobuf encoding was invalid", also for a missing ratchet key),
// the ratchet key (key read texts), then a missing counter or ciphertext
// ("protobuf encoding was invalid"). The MAC is not checked here.
Result<SignalMessage> ReadSignalMessage(ByteView in);

// VerifyMac recomputes the MAC with `mac_key` and compares it in constant
// time with the message's last 8 bytes; a mismatch is false (and a warning
// line in the log). Fails only for a MAC key that is not 32 bytes.
Result<bool> VerifyMac(const SignalMessage& message,
                       const PublicKey& sender_identity,
                       const PublicKey& receiver_identity, ByteView mac_key);

// A pre-key message as read.
struct PreKeySignalMessage {
  uint8_t message_version;
  uint32_t registration_id;  // absent reads as 0
  std::optional<uint32_t> pre_key_id;
  uint32_t signed_pre_key_id;
  // Present together: the Kyber pre-key id and the encapsulation (as sent,
  // type byte first; its length is checked when it is decapsulated).
  std::optional<uint32_t> kyber_pre_key_id;
  Bytes kyber_ciphertext;
  PublicKey base_key;
  PublicKey identity_key;
  SignalMessage message;
  Bytes serialized;  // the whole input
};

// What a pre-key message is built from.
struct PreKeySignalMessageFields {
  uint8_t message_version;
  uint32_t registration_id;
  std::optional<uint32_t> pre_key_id;
  uint32_t signed_pre_key_id;
  std::optional<uint32_t> kyber_pre_key_id;  // with kyber_ciphertext
  ByteView kyber_ciphertext;                 // 1569 bytes, type byte first
  const PublicKey& base_key;
  const PublicKey& identity_key;
  ByteView message;  // a built ordinary message
};

// BuildPreKeySignalMessage writes the version byte and the body; a pre-key
// message has no MAC of its own.
Bytes BuildPreKeySignalMessage(const PreKeySignalMessageFields& fields);

// ReadPreKeySignalMessage checks, in this order: empty input ("... too short
// <0>"), the version, the body ("protobuf encoding was invalid", also for a
// missing base key, identity key, message or signed pre-key id), the base
// key, the Kyber rule ("invalid PreKey message: Both or neither kyber
// pre_key_id and kyber_ciphertext can be present", and for version 4
// without them "invalid PreKey message: Kyber pre key must be present for
// this session version"), the identity key, then the inner ordinary message
// with all of ReadSignalMessage's checks.
Result<PreKeySignalMessage> ReadPreKeySignalMessage(ByteView in);

}  // namespace velmo::proto
