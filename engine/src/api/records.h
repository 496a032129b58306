// The records that cross the bridge, field by field in encoding order. Each
// lists its fields once in Fields(); bridge/codec.h reads and writes them
// from that list. Byte strings that can hold private keys, session state or
// plaintext are SecretBytes, wiped when freed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "api/engine_error.h"
#include "bridge/codec.h"
#include "crypto/secure_bytes.h"
#include "protocol/address.h"

namespace velmo::api {

using crypto::Bytes;
using crypto::SecretBytes;

// PeerAddress is the session layer's own: one device of a peer, ordered by
// name byte-wise, then device id, written in texts as "alice.1".
using proto::PeerAddress;

enum class SignalMessageKind : int32_t {
  Whisper = 0,  // an ordinary message, wire type 2
  PreKey = 1,   // a pre-key message, wire type 3
};

// AddressedRecord: a session record, or a 33-byte identity public key.
struct AddressedRecord {
  PeerAddress address;
  SecretBytes data;

  static constexpr auto Fields() {
    return std::tuple(&AddressedRecord::address, &AddressedRecord::data);
  }
  bool operator==(const AddressedRecord&) const = default;
};

// IdRecord: a serialized one-time, signed or Kyber pre-key record.
struct IdRecord {
  uint32_t id = 0;
  SecretBytes data;

  static constexpr auto Fields() {
    return std::tuple(&IdRecord::id, &IdRecord::data);
  }
  bool operator==(const IdRecord&) const = default;
};

struct StoreSnapshot {
  SecretBytes identity_key_pair;
  uint32_t registration_id = 0;
  std::vector<AddressedRecord> sessions;
  std::vector<AddressedRecord> identities;
  std::vector<IdRecord> pre_keys;
  std::vector<IdRecord> signed_pre_keys;
  std::vector<IdRecord> kyber_pre_keys;

  static constexpr auto Fields() {
    return std::tuple(&StoreSnapshot::identity_key_pair,
                      &StoreSnapshot::registration_id,
                      &StoreSnapshot::sessions, &StoreSnapshot::identities,
                      &StoreSnapshot::pre_keys,
                      &StoreSnapshot::signed_pre_keys,
                      &StoreSnapshot::kyber_pre_keys);
  }
  bool operator==(const StoreSnapshot&) const = default;
};

struct StoreChanges {
  std::vector<AddressedRecord> sessions;
  std::vector<AddressedRecord> identities;
  std::vector<PeerAddress> replaced_identities;
  std::vector<IdRecord> pre_keys;
  std::vector<uint32_t> removed_pre_keys;
  std::vector<IdRecord> signed_pre_keys;
  std::vector<IdRecord> kyber_pre_keys;
  std::vector<uint32_t> used_kyber_pre_keys;

  static constexpr auto Fields() {
    return std::tuple(&StoreChanges::sessions, &StoreChanges::identities,
                      &StoreChanges::replaced_identities,
                      &StoreChanges::pre_keys, &StoreChanges::removed_pre_keys,
                      &StoreChanges::signed_pre_keys,
                      &StoreChanges::kyber_pre_keys,
                      &StoreChanges::used_kyber_pre_keys);
  }
  bool operator==(const StoreChanges&) const = default;
};

struct PreKeyBundle {
  uint32_t registration_id = 0;
  uint32_t device_id = 0;
  std::optional<uint32_t> pre_key_id;
  std::optional<Bytes> pre_key_public;
  uint32_t signed_pre_key_id = 0;
  Bytes signed_pre_key_public;
  Bytes signed_pre_key_signature;
  Bytes identity_key;
  std::optional<uint32_t> kyber_pre_key_id;
  std::optional<Bytes> kyber_pre_key_public;
  std::optional<Bytes> kyber_pre_key_signature;

  static constexpr auto Fields() {
    return std::tuple(
        &PreKeyBundle::registration_id, &PreKeyBundle::device_id,
        &PreKeyBundle::pre_key_id, &PreKeyBundle::pre_key_public,
        &PreKeyBundle::signed_pre_key_id, &PreKeyBundle::signed_pre_key_public,
        &PreKeyBundle::signed_pre_key_signature, &PreKeyBundle::identity_key,
        &PreKeyBundle::kyber_pre_key_id, &PreKeyBundle::kyber_pre_key_public,
        &PreKeyBundle::kyber_pre_key_signature);
  }
  bool operator==(const PreKeyBundle&) const = default;
};

struct GeneratedPreKey {
  uint32_t id = 0;
  SecretBytes record;   // the serialized record to keep
  Bytes public_key;     // the encoded public key to publish
  Bytes signature;      // 64 bytes; empty for one-time pre-keys

  static constexpr auto Fields() {
    return std::tuple(&GeneratedPreKey::id, &GeneratedPreKey::record,
                      &GeneratedPreKey::public_key,
                      &GeneratedPreKey::signature);
  }
  bool operator==(const GeneratedPreKey&) const = default;
};

struct GeneratedIdentityKeyPair {
  SecretBytes key_pair;  // serialized IdentityKeyPairStructure
  Bytes public_key;      // 33 bytes

  static constexpr auto Fields() {
    return std::tuple(&GeneratedIdentityKeyPair::key_pair,
                      &GeneratedIdentityKeyPair::public_key);
  }
  bool operator==(const GeneratedIdentityKeyPair&) const = default;
};

struct PublicPreKey {
  uint32_t id = 0;
  Bytes public_key;
  Bytes signature;  // empty for a one-time pre-key

  static constexpr auto Fields() {
    return std::tuple(&PublicPreKey::id, &PublicPreKey::public_key,
                      &PublicPreKey::signature);
  }
  bool operator==(const PublicPreKey&) const = default;
};

struct EncryptResult {
  SignalMessageKind kind = SignalMessageKind::Whisper;
  uint8_t version = 0;  // the high four bits of the message's first byte
  Bytes ciphertext;     // the wire message
  StoreChanges changes;

  static constexpr auto Fields() {
    return std::tuple(&EncryptResult::kind, &EncryptResult::version,
                      &EncryptResult::ciphertext, &EncryptResult::changes);
  }
  bool operator==(const EncryptResult&) const = default;
};

struct DecryptResult {
  SecretBytes plaintext;
  StoreChanges changes;

  static constexpr auto Fields() {
    return std::tuple(&DecryptResult::plaintext, &DecryptResult::changes);
  }
  bool operator==(const DecryptResult&) const = default;
};

struct MessageInfo {
  SignalMessageKind kind = SignalMessageKind::Whisper;
  uint8_t version = 0;
  std::optional<uint32_t> registration_id;
  std::optional<uint32_t> pre_key_id;
  std::optional<uint32_t> signed_pre_key_id;
  std::optional<uint32_t> kyber_pre_key_id;
  std::optional<Bytes> identity_key;

  static constexpr auto Fields() {
    return std::tuple(&MessageInfo::kind, &MessageInfo::version,
                      &MessageInfo::registration_id, &MessageInfo::pre_key_id,
                      &MessageInfo::signed_pre_key_id,
                      &MessageInfo::kyber_pre_key_id,
                      &MessageInfo::identity_key);
  }
  bool operator==(const MessageInfo&) const = default;
};

struct SessionInfo {
  uint32_t version = 0;  // 2 when the stored version is 0
  bool post_quantum = false;
  bool usable = false;

  static constexpr auto Fields() {
    return std::tuple(&SessionInfo::version, &SessionInfo::post_quantum,
                      &SessionInfo::usable);
  }
  bool operator==(const SessionInfo&) const = default;
};

}  // namespace velmo::api

template <>
struct velmo::bridge::EnumVariants<velmo::api::SignalMessageKind> {
  static constexpr int32_t value = 2;
};

template <>
struct velmo::bridge::RecordFields<velmo::proto::PeerAddress> {
  static constexpr auto Get() {
    return std::tuple(&velmo::proto::PeerAddress::name,
                      &velmo::proto::PeerAddress::device_id);
  }
};
