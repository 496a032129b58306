// The records of the data model: exact layouts, round trips, truncation, and
// the kind a session-layer failure text maps to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/engine_error.h"
#include "api/records.h"
#include "bridge/codec.h"

namespace velmo::api {
namespace {

using Raw = std::vector<uint8_t>;

template <class T>
Raw Encode(const T& value) {
  bridge::ByteWriter w;
  bridge::Write(w, value);
  return Raw(w.view().begin(), w.view().end());
}

template <class T>
bool Decode(const Raw& in, T* out) {
  bridge::ByteReader r(in);
  return bridge::Read(r, out) && r.at_end();
}

SecretBytes Secret(std::initializer_list<uint8_t> b) {
  return SecretBytes(b);
}

// Every record round-trips, and every proper prefix of its encoding fails
// to decode (so no field is silently optional).
template <class T>
void ExpectRoundTrip(const T& value) {
  Raw bytes = Encode(value);
  T back{};
  ASSERT_TRUE(Decode(bytes, &back));
  EXPECT_TRUE(back == value);
  for (size_t cut = 0; cut < bytes.size(); cut++) {
    T partial{};
    EXPECT_FALSE(Decode(Raw(bytes.begin(), bytes.begin() + cut), &partial))
        << "decoded from the first " << cut << " of " << bytes.size()
        << " bytes";
  }
  Raw longer = bytes;
  longer.push_back(0);
  T extra{};
  EXPECT_FALSE(Decode(longer, &extra));
}

TEST(BridgeRecords, PeerAddressLayoutAndOrder) {
  EXPECT_EQ(Encode(PeerAddress{"bob", 3}),
            (Raw{3, 0, 0, 0, 'b', 'o', 'b', 3, 0, 0, 0}));
  EXPECT_EQ((PeerAddress{"alice", 1}).ToString(), "alice.1");
  EXPECT_LT((PeerAddress{"al", 9}), (PeerAddress{"alice", 1}));
  EXPECT_LT((PeerAddress{"alice", 1}), (PeerAddress{"alice", 2}));
  EXPECT_LT((PeerAddress{"Bob", 5}), (PeerAddress{"alice", 1}));
  // Byte-wise: a name byte >= 0x80 sorts after ASCII.
  EXPECT_LT((PeerAddress{"z", 1}), (PeerAddress{"\xC3\xA9", 1}));
}

TEST(BridgeRecords, EngineErrorLayout) {
  EXPECT_EQ(Encode(EngineError{ErrorKind::NoSession, "x"}),
            (Raw{1, 0, 0, 0, 1, 0, 0, 0, 'x'}));
}

TEST(BridgeRecords, PreKeyBundleOptionalsTravelBehindPresenceBytes) {
  PreKeyBundle bundle;
  bundle.registration_id = 0x0102;
  bundle.device_id = 1;
  bundle.signed_pre_key_id = 5;
  bundle.signed_pre_key_public = {0x05};
  bundle.signed_pre_key_signature = {0xAA};
  bundle.identity_key = {0x05, 0x06};
  EXPECT_EQ(Encode(bundle),
            (Raw{2, 1, 0, 0,          // registration_id
                 1, 0, 0, 0,          // device_id
                 0,                   // pre_key_id absent
                 0,                   // pre_key_public absent
                 5, 0, 0, 0,          // signed_pre_key_id
                 1, 0, 0, 0, 0x05,    // signed_pre_key_public
                 1, 0, 0, 0, 0xAA,    // signed_pre_key_signature
                 2, 0, 0, 0, 5, 6,    // identity_key
                 0, 0, 0}));          // Kyber id, key, signature absent
  bundle.pre_key_id = 7;
  bundle.pre_key_public = Bytes{0x05, 1};
  bundle.kyber_pre_key_id = 9;
  bundle.kyber_pre_key_public = Bytes{0x08};
  bundle.kyber_pre_key_signature = Bytes{};
  ExpectRoundTrip(bundle);
}

TEST(BridgeRecords, EveryRecordRoundTrips) {
  PeerAddress alice{"alice", 1};
  PeerAddress bob{"bob", 2};
  StoreChanges changes;
  changes.sessions = {{alice, Secret({1, 2})}, {bob, Secret({})}};
  changes.identities = {{bob, Secret({5, 5})}};
  changes.replaced_identities = {alice};
  changes.pre_keys = {{3, Secret({3})}};
  changes.removed_pre_keys = {4, 5};
  changes.signed_pre_keys = {{6, Secret({6})}};
  changes.kyber_pre_keys = {{7, Secret({7})}};
  changes.used_kyber_pre_keys = {8};

  StoreSnapshot snapshot;
  snapshot.identity_key_pair = Secret({0x0A, 0x0B});
  snapshot.registration_id = 77;
  snapshot.sessions = changes.sessions;
  snapshot.identities = changes.identities;
  snapshot.pre_keys = changes.pre_keys;
  snapshot.signed_pre_keys = changes.signed_pre_keys;
  snapshot.kyber_pre_keys = changes.kyber_pre_keys;

  {
    SCOPED_TRACE("PeerAddress");
    ExpectRoundTrip(alice);
  }
  {
    SCOPED_TRACE("EngineError");
    ExpectRoundTrip(EngineError{ErrorKind::InvalidKey, "bad key type <0x07>"});
  }
  {
    SCOPED_TRACE("StoreSnapshot");
    ExpectRoundTrip(snapshot);
  }
  {
    SCOPED_TRACE("StoreChanges");
    ExpectRoundTrip(changes);
  }
  {
    SCOPED_TRACE("GeneratedPreKey");
    ExpectRoundTrip(GeneratedPreKey{9, Secret({1}), {0x05, 2}, {}});
  }
  {
    SCOPED_TRACE("GeneratedIdentityKeyPair");
    ExpectRoundTrip(GeneratedIdentityKeyPair{Secret({1, 2}), {0x05}});
  }
  {
    SCOPED_TRACE("PublicPreKey");
    ExpectRoundTrip(PublicPreKey{3, {0x05}, {1, 2, 3}});
  }
  {
    SCOPED_TRACE("EncryptResult");
    ExpectRoundTrip(
        EncryptResult{SignalMessageKind::PreKey, 4, {0x44, 1}, changes});
  }
  {
    SCOPED_TRACE("DecryptResult");
    ExpectRoundTrip(DecryptResult{Secret({'h', 'i'}), changes});
  }
  {
    SCOPED_TRACE("MessageInfo");
    ExpectRoundTrip(MessageInfo{SignalMessageKind::PreKey, 4, 0, std::nullopt,
                                5, 6, Bytes{0x05}});
  }
  {
    SCOPED_TRACE("SessionInfo");
    ExpectRoundTrip(SessionInfo{4, true, false});
  }
}

TEST(BridgeRecords, DefaultsEncodeAsZeroCounts) {
  EXPECT_EQ(Encode(StoreChanges{}), Raw(32, 0));
  EXPECT_EQ(Encode(StoreSnapshot{}), Raw(28, 0));
}

TEST(BridgeRecords, AddressNameMustBeUtf8) {
  Raw bad = {2, 0, 0, 0, 0xC3, 0x28, 1, 0, 0, 0};
  PeerAddress out;
  EXPECT_FALSE(Decode(bad, &out));
}

TEST(EngineErrors, SessionLayerFailureTextsGiveTheirKinds) {
  const struct {
    const char* text;
    ErrorKind kind;
  } kCases[] = {
      {"protobuf encoding was invalid", ErrorKind::InvalidMessage},
      {"ciphertext serialized bytes were too short <3>",
       ErrorKind::InvalidMessage},
      {"ciphertext version was too old <2>", ErrorKind::InvalidMessage},
      {"ciphertext version was unrecognized <9>", ErrorKind::InvalidMessage},
      {"unrecognized message version <5>", ErrorKind::InvalidMessage},
      {"invalid PreKey message: no identity key", ErrorKind::InvalidMessage},
      {"invalid Whisper message: bad MAC", ErrorKind::InvalidMessage},
      {"session with alice.1 not found", ErrorKind::NoSession},
      {"invalid session: failed to decode session record protobuf",
       ErrorKind::NoSession},
      {"message with old counter 3 / 1", ErrorKind::DuplicateMessage},
      {"untrusted identity for address bob.2", ErrorKind::UntrustedIdentity},
      {"invalid prekey identifier", ErrorKind::InvalidPreKeyId},
      {"invalid signed prekey identifier", ErrorKind::InvalidPreKeyId},
      {"invalid Kyber prekey identifier", ErrorKind::InvalidPreKeyId},
      {"no key type identifier", ErrorKind::InvalidKey},
      {"bad key type <0x07>", ErrorKind::InvalidKey},
      {"bad key length <31> for key with type <Djb>", ErrorKind::InvalidKey},
      {"invalid signature detected", ErrorKind::InvalidKey},
      {"bad KEM key type <0x05>", ErrorKind::InvalidKey},
      {"invalid argument: x", ErrorKind::InvalidArgument},
      // A reason that itself reads like another template keeps its kind.
      {"invalid argument: invalid Whisper message: x",
       ErrorKind::InvalidArgument},
      {"invalid state for call to session_version to succeed: "
       "No current session",
       ErrorKind::Other},
      {"bad KEM key length <1570> for key with type <Kyber1024>",
       ErrorKind::Other},
      {"unexpected KEM key type <0x08> (expected <0x0a>)", ErrorKind::Other},
      {"bad KEM ciphertext length <3> for key with type <Kyber1024>",
       ErrorKind::Other},
      {"invalid MAC key length <3>", ErrorKind::Other},
      {"session for alice.1 has invalid registration ID 0", ErrorKind::Other},
      {"something else entirely", ErrorKind::Other},
      // A template's hole takes at least one byte.
      {"bad key type <>", ErrorKind::Other},
      {"protobuf encoding was invalid!", ErrorKind::Other},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ErrorKindOfProtocolFailure(c.text), c.kind);
  }
  EXPECT_EQ(EngineErrorFromProtocolFailure("invalid prekey identifier"),
            (EngineError{ErrorKind::InvalidPreKeyId,
                         "invalid prekey identifier"}));
}

}  // namespace
}  // namespace velmo::api
