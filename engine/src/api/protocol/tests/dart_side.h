// The Dart side of one device, as the application plays it: it keeps every
// protocol record itself, hands them all in with each session call, and
// applies the StoreChanges of a successful call before the next one. All
// engine work goes through the C entry points.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "api/protocol/tests/call.h"
#include "api/records.h"
#include "protocol/records.h"

namespace velmo::api::testing {

using crypto::ByteView;

class DartSide {
 public:
  // Operation numbers of the table.
  static constexpr int32_t kDecrypt = 2;
  static constexpr int32_t kEncrypt = 3;
  static constexpr int32_t kProcessBundle = 16;

  // A device with fresh key material from the engine: an identity (or the
  // given one, for a second device of the same user), a registration id, a
  // signed pre-key and `num_pre_keys` one-time and Kyber pre-keys.
  explicit DartSide(PeerAddress address,
                    std::optional<SecretBytes> identity_key_pair = std::nullopt,
                    uint32_t num_pre_keys = 8);

  const PeerAddress& address() const { return address_; }
  const SecretBytes& identity_key_pair() const { return identity_key_pair_; }
  const Bytes& identity_public() const { return identity_public_; }

  // Bundle publishes the signed pre-key and, if asked, the lowest one-time
  // and Kyber pre-keys still held.
  PreKeyBundle Bundle(bool with_one_time, bool with_kyber) const;

  // The three session operations. Each applies the changes of a successful
  // call to the records, as the application does.
  Reply<StoreChanges> ProcessBundle(const PeerAddress& peer,
                                    const PreKeyBundle& bundle);
  Reply<EncryptResult> Encrypt(const PeerAddress& peer, ByteView plaintext);
  Reply<DecryptResult> Decrypt(const PeerAddress& peer,
                               SignalMessageKind kind,
                               ByteView ciphertext);

  StoreSnapshot Snapshot() const;
  void Apply(const StoreChanges& changes);

  // The stored session record for `peer`, decoded; throws when there is
  // none or it does not read.
  proto::RecordStructure Session(const PeerAddress& peer) const;
  void SetSession(const PeerAddress& peer,
                  const proto::RecordStructure& record);

  // The records as the application keeps them.
  std::map<PeerAddress, SecretBytes> sessions;
  std::map<PeerAddress, SecretBytes> identities;
  std::map<uint32_t, SecretBytes> pre_keys;
  std::map<uint32_t, SecretBytes> signed_pre_keys;
  std::map<uint32_t, SecretBytes> kyber_pre_keys;
  std::set<uint32_t> used_kyber_pre_keys;

 private:
  struct Published {
    Bytes public_key;
    Bytes signature;
  };

  PeerAddress address_;
  SecretBytes identity_key_pair_;
  Bytes identity_public_;
  uint32_t registration_id_ = 0;
  uint32_t signed_pre_key_id_ = 0;
  std::map<uint32_t, Published> published_pre_keys_;
  std::map<uint32_t, Published> published_kyber_pre_keys_;
  Published published_signed_pre_key_;
};

}  // namespace velmo::api::testing
