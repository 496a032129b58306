// The thin operations (9-15, 17-19) and every error text the operations of
// this folder report, each through the operation that produces it.
#include <gtest/gtest.h>

#include <functional>

#include "api/protocol/tests/call.h"
#include "api/protocol/tests/test_keys.h"
#include "crypto/clock.h"
#include "protocol/messages.h"
#include "protocol/records.h"

namespace velmo::api {
namespace {

using testing::Call;
using testing::Fill;
using testing::PreKeyRecordWith;
using testing::Reply;
using testing::Secret;
using testing::SignedRecordWith;
using testing::TestIdentity;

template <class R>
EngineError ErrorOf(const Reply<R>& reply) {
  EXPECT_EQ(1, reply.action) << "not an error reply";
  return reply.error;
}

// A snapshot whose only fault is the one `spoil` gives it.
StoreSnapshot Snapshot(std::function<void(StoreSnapshot&)> spoil = nullptr) {
  StoreSnapshot s;
  s.identity_key_pair = TestIdentity().key_pair;
  if (spoil) spoil(s);
  return s;
}

SecretBytes SessionRecordBytes(std::function<void(proto::SessionStructure&)> edit) {
  proto::RecordStructure record;
  edit(record.current_session.emplace());
  return proto::Encode(record);
}

// Every text of the operation table's failure list that the operations of
// this folder can produce, with its kind. The remaining texts come from the
// session steps of operations 2, 3 and 16 ("unrecognized message version",
// "invalid {} message", "session with {} not found", "message with old
// counter", "untrusted identity for address", the three pre-key identifier
// texts, "invalid signature detected", "invalid argument", "bad KEM
// ciphertext length", "invalid MAC key length") and are tested with them.
TEST(OperationErrors, EveryTextWithItsKind) {
  GeneratedIdentityKeyPair identity = TestIdentity();
  const SecretBytes kGarbage = {0x00};
  const Bytes kEmpty;
  auto whisper_like = [](uint8_t first, size_t n) {
    Bytes b(n, 0);
    b[0] = first;
    return b;
  };
  PeerAddress bob{"bob", 2};
  const PreKeyBundle kBundle;

  const struct {
    const char* name;
    EngineError got;
    ErrorKind kind;
    std::string text;
  } kCases[] = {
      // InvalidMessage (0)
      {"op 12, 8 bytes", ErrorOf(Call<MessageInfo>(12, whisper_like(0x34, 8))),
       ErrorKind::InvalidMessage, "ciphertext serialized bytes were too short <8>"},
      {"op 12, version 2", ErrorOf(Call<MessageInfo>(12, whisper_like(0x24, 20))),
       ErrorKind::InvalidMessage, "ciphertext version was too old <2>"},
      {"op 12, version 5", ErrorOf(Call<MessageInfo>(12, whisper_like(0x54, 20))),
       ErrorKind::InvalidMessage, "ciphertext version was unrecognized <5>"},
      {"op 12, 9 bytes", ErrorOf(Call<MessageInfo>(12, whisper_like(0x34, 9))),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 9, record unreadable", ErrorOf(Call<Bytes>(9, kGarbage)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 10, record unreadable", ErrorOf(Call<Bytes>(10, kGarbage, kEmpty)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 13, record unreadable", ErrorOf(Call<PublicPreKey>(13, kGarbage)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 14, record unreadable", ErrorOf(Call<PublicPreKey>(14, kGarbage)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 19, record unreadable", ErrorOf(Call<PublicPreKey>(19, kGarbage)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 2, one-time pre-key record unreadable",
       ErrorOf(Call<DecryptResult>(2, Snapshot([&](StoreSnapshot& s) {
                                     s.pre_keys.push_back({1, kGarbage});
                                   }),
                                   bob, SignalMessageKind::Whisper, kEmpty)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 3, signed pre-key record unreadable",
       ErrorOf(Call<EncryptResult>(3, Snapshot([&](StoreSnapshot& s) {
                                     s.signed_pre_keys.push_back({1, kGarbage});
                                   }),
                                   bob, SecretBytes{})),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 16, Kyber pre-key record unreadable",
       ErrorOf(Call<StoreChanges>(16, Snapshot([&](StoreSnapshot& s) {
                                    s.kyber_pre_keys.push_back({1, kGarbage});
                                  }),
                                  bob, kBundle)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      {"op 2, identity key pair unreadable",
       ErrorOf(Call<DecryptResult>(2, Snapshot([&](StoreSnapshot& s) {
                                     s.identity_key_pair = kGarbage;
                                   }),
                                   bob, SignalMessageKind::PreKey, kEmpty)),
       ErrorKind::InvalidMessage, "protobuf encoding was invalid"},
      // NoSession (1)
      {"op 18, record unreadable", ErrorOf(Call<SessionInfo>(18, kGarbage)),
       ErrorKind::NoSession,
       "invalid session: failed to decode session record protobuf"},
      {"op 3, session record unreadable",
       ErrorOf(Call<EncryptResult>(3, Snapshot([&](StoreSnapshot& s) {
                                     s.sessions.push_back({bob, kGarbage});
                                   }),
                                   bob, SecretBytes{})),
       ErrorKind::NoSession,
       "invalid session: failed to decode session record protobuf"},
      // InvalidKey (5)
      {"op 11, empty public key", ErrorOf(Call<bool>(11, kEmpty, kEmpty, kEmpty)),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 11, key type 0x07", ErrorOf(Call<bool>(11, Bytes(Fill(32, 1, 7)), kEmpty, kEmpty)),
       ErrorKind::InvalidKey, "bad key type <0x07>"},
      {"op 11, key of 32 bytes",
       ErrorOf(Call<bool>(11, Bytes(Fill(31, 1, 5)), kEmpty, kEmpty)),
       ErrorKind::InvalidKey, "bad key length <32> for key with type <Djb>"},
      {"op 9, empty record", ErrorOf(Call<Bytes>(9, SecretBytes{})),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 8, empty record", ErrorOf(Call<GeneratedPreKey>(8, SecretBytes{}, uint32_t{1})),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 15, 31-byte key", ErrorOf(Call<Bytes>(15, Secret(Fill(31, 1)), kEmpty)),
       ErrorKind::InvalidKey, "bad key length <31> for key with type <Djb>"},
      {"op 17, 33-byte key", ErrorOf(Call<Bytes>(17, Secret(Fill(33, 1)))),
       ErrorKind::InvalidKey, "bad key length <33> for key with type <Djb>"},
      {"op 14, public key type 0x07",
       ErrorOf(Call<PublicPreKey>(14, PreKeyRecordWith(1, Fill(32, 1, 7), Fill(32, 1)))),
       ErrorKind::InvalidKey, "bad key type <0x07>"},
      {"op 19, public key empty",
       ErrorOf(Call<PublicPreKey>(19, SignedRecordWith(1, {}))),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 13, public key empty",
       ErrorOf(Call<PublicPreKey>(13, SignedRecordWith(1, {}))),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 13, key type 0x05",
       ErrorOf(Call<PublicPreKey>(13, SignedRecordWith(1, Fill(1568, 1, 5)))),
       ErrorKind::InvalidKey, "bad KEM key type <0x05>"},
      {"op 2, default snapshot",
       ErrorOf(Call<DecryptResult>(2, StoreSnapshot{}, bob,
                                   SignalMessageKind::Whisper, kEmpty)),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 3, default snapshot",
       ErrorOf(Call<EncryptResult>(3, StoreSnapshot{}, bob, SecretBytes{})),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 16, default snapshot",
       ErrorOf(Call<StoreChanges>(16, StoreSnapshot{}, bob, kBundle)),
       ErrorKind::InvalidKey, "no key type identifier"},
      {"op 16, remembered identity key type 0x07",
       ErrorOf(Call<StoreChanges>(16, Snapshot([&](StoreSnapshot& s) {
                                    s.identities.push_back({bob, Secret(Fill(32, 1, 7))});
                                  }),
                                  bob, kBundle)),
       ErrorKind::InvalidKey, "bad key type <0x07>"},
      // InvalidArgument (6)
      {"op 1, empty", ErrorOf(Call<uint8_t>(1, kEmpty)), ErrorKind::InvalidArgument,
       "empty ciphertext"},
      {"op 6, overflow", ErrorOf(Call<std::vector<GeneratedPreKey>>(6, UINT32_MAX, uint32_t{2})),
       ErrorKind::InvalidArgument, "prekey id overflow"},
      {"op 5, overflow",
       ErrorOf(Call<std::vector<GeneratedPreKey>>(5, identity.key_pair, UINT32_MAX, uint32_t{2})),
       ErrorKind::InvalidArgument, "kyber prekey id overflow"},
      // Other (7)
      {"op 13, Kyber key of 1570 bytes",
       ErrorOf(Call<PublicPreKey>(13, SignedRecordWith(1, Fill(1569, 1, 8)))),
       ErrorKind::Other, "bad KEM key length <1570> for key with type <Kyber1024>"},
      {"op 18, no current state", ErrorOf(Call<SessionInfo>(18, SecretBytes{})),
       ErrorKind::Other,
       "invalid state for call to session_version to succeed: No current session"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.kind, c.got.kind);
    EXPECT_EQ(c.text, c.got.message);
  }
}

TEST(Operations, StoreBuildFailsAtTheFirstBadList) {
  // A bad identity key is read before a bad session record, which is read
  // before a bad pre-key record, and the identity key pair comes last.
  PeerAddress bob{"bob", 2};
  StoreSnapshot s;
  s.identity_key_pair = SecretBytes{0xff};
  s.kyber_pre_keys.push_back({1, SecretBytes{0xff}});
  s.sessions.push_back({bob, SecretBytes{0xff}});
  s.identities.push_back({bob, SecretBytes{}});
  EngineError error = ErrorOf(Call<EncryptResult>(3, s, bob, SecretBytes{}));
  EXPECT_EQ("no key type identifier", error.message);
  s.identities.clear();
  error = ErrorOf(Call<EncryptResult>(3, s, bob, SecretBytes{}));
  EXPECT_EQ("invalid session: failed to decode session record protobuf", error.message);
  s.sessions.clear();
  error = ErrorOf(Call<EncryptResult>(3, s, bob, SecretBytes{}));
  EXPECT_EQ(ErrorKind::InvalidMessage, error.kind);
  s.kyber_pre_keys.clear();
  error = ErrorOf(Call<EncryptResult>(3, s, bob, SecretBytes{}));
  EXPECT_EQ("protobuf encoding was invalid", error.message);
}

TEST(Operations, IdentitySignAndVerify) {
  GeneratedIdentityKeyPair identity = TestIdentity();
  const Bytes message = {'h', 'i'};
  Reply<Bytes> signed_reply = Call<Bytes>(10, identity.key_pair, message);
  ASSERT_EQ(0, signed_reply.action);
  const Bytes& signature = signed_reply.value;
  ASSERT_EQ(64u, signature.size());
  // Fresh randomness each time.
  EXPECT_NE(signature, Call<Bytes>(10, identity.key_pair, message).value);

  Bytes key34 = identity.public_key;
  key34.push_back(0xee);
  Bytes short_signature(signature.begin(), signature.end() - 1);
  Bytes long_signature = signature;
  long_signature.push_back(0);
  const struct {
    const char* name;
    Bytes key, message, signature;
    bool valid;
  } kCases[] = {
      {"as signed", identity.public_key, message, signature, true},
      {"34-byte key string", key34, message, signature, true},
      {"other message", identity.public_key, Bytes{'h'}, signature, false},
      {"63-byte signature", identity.public_key, message, short_signature, false},
      {"65-byte signature", identity.public_key, message, long_signature, false},
      {"empty signature", identity.public_key, message, {}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reply<bool> r = Call<bool>(11, c.key, c.message, c.signature);
    ASSERT_EQ(0, r.action);
    EXPECT_EQ(c.valid, r.value);
  }
}

TEST(Operations, PrivateKeySignAndPublicKey) {
  std::vector<uint8_t> raw = Fill(32, 0x5a);
  std::vector<uint8_t> unclamped = raw;
  unclamped[0] |= 7;      // the bits clamping clears
  unclamped[31] |= 0x80;
  unclamped[31] &= ~0x40;
  Reply<Bytes> a = Call<Bytes>(17, Secret(raw));
  Reply<Bytes> b = Call<Bytes>(17, Secret(unclamped));
  ASSERT_EQ(0, a.action);
  ASSERT_EQ(33u, a.value.size());
  EXPECT_EQ(a.value, b.value);

  const Bytes message = {1, 2, 3};
  Reply<Bytes> signature = Call<Bytes>(15, Secret(unclamped), message);
  ASSERT_EQ(0, signature.action);
  Reply<bool> verified = Call<bool>(11, a.value, message, signature.value);
  EXPECT_TRUE(verified.value);
}

TEST(Operations, InspectMessage) {
  crypto::SeededRng rng(9);
  crypto::KeyPair ratchet = crypto::KeyPair::Generate(rng);
  crypto::KeyPair base = crypto::KeyPair::Generate(rng);
  GeneratedIdentityKeyPair identity = TestIdentity();
  crypto::PublicKey identity_key =
      proto::DecodePublicKey(identity.public_key).value();
  std::vector<uint8_t> mac_key = Fill(32, 3);
  Bytes inner = proto::BuildSignalMessage(
                    {3, ratchet.public_key, 5, 4, Fill(16, 1), {}}, mac_key,
                    identity_key, base.public_key)
                    .value();
  Bytes kyber = Fill(1568, 2, 8);
  auto pre_key_message = [&](std::optional<uint32_t> one_time,
                             std::optional<uint32_t> kyber_id, crypto::ByteView message) {
    return proto::BuildPreKeySignalMessage({.message_version = 3,
                                            .registration_id = 77,
                                            .pre_key_id = one_time,
                                            .signed_pre_key_id = 8,
                                            .kyber_pre_key_id = kyber_id,
                                            .kyber_ciphertext = kyber,
                                            .base_key = base.public_key,
                                            .identity_key = identity_key,
                                            .message = message});
  };

  Reply<MessageInfo> no_one_time = Call<MessageInfo>(12, pre_key_message(std::nullopt, std::nullopt, inner));
  ASSERT_EQ(0, no_one_time.action) << no_one_time.error.message;
  EXPECT_EQ((MessageInfo{SignalMessageKind::PreKey, 3, 77, std::nullopt, 8,
                         std::nullopt, identity.public_key}),
            no_one_time.value);

  Reply<MessageInfo> full = Call<MessageInfo>(12, pre_key_message(0, 6, inner));
  ASSERT_EQ(0, full.action);
  EXPECT_EQ(std::optional<uint32_t>(0), full.value.pre_key_id);
  EXPECT_EQ(std::optional<uint32_t>(6), full.value.kyber_pre_key_id);

  Reply<MessageInfo> ordinary = Call<MessageInfo>(12, inner);
  ASSERT_EQ(0, ordinary.action);
  EXPECT_EQ((MessageInfo{SignalMessageKind::Whisper, 3}), ordinary.value);

  // A pre-key message whose inner message does not read is tried as an
  // ordinary message, and that reading's failure is the answer.
  Bytes broken_inner(inner.begin(), inner.begin() + 5);
  Reply<MessageInfo> broken =
      Call<MessageInfo>(12, pre_key_message(1, std::nullopt, broken_inner));
  ASSERT_EQ(1, broken.action);
  EXPECT_EQ("protobuf encoding was invalid", broken.error.message);
}

TEST(Operations, PublicParts) {
  // A one-time pre-key's private key is not looked at; a 34-byte public key
  // comes back as its 33-byte encoding.
  Reply<PublicPreKey> one_time =
      Call<PublicPreKey>(14, PreKeyRecordWith(9, Fill(33, 4, 5), Fill(3, 0)));
  ASSERT_EQ(0, one_time.action);
  EXPECT_EQ((PublicPreKey{9, Bytes(Fill(32, 4, 5)), {}}), one_time.value);

  Reply<PublicPreKey> signed_key =
      Call<PublicPreKey>(19, SignedRecordWith(3, Fill(32, 6, 5), Fill(64, 7)));
  ASSERT_EQ(0, signed_key.action);
  EXPECT_EQ((PublicPreKey{3, Bytes(Fill(32, 6, 5)), Bytes(Fill(64, 7))}),
            signed_key.value);

  Reply<PublicPreKey> kyber =
      Call<PublicPreKey>(13, SignedRecordWith(4, Fill(1568, 6, 8), Fill(64, 7)));
  ASSERT_EQ(0, kyber.action);
  EXPECT_EQ(1569u, kyber.value.public_key.size());
}

TEST(Operations, SessionInfo) {
  const uint64_t now = crypto::NowUnixSeconds();
  auto with_sender_chain = [](proto::SessionStructure& s) {
    s.sender_chain.emplace();
  };
  const struct {
    const char* name;
    SecretBytes record;
    SessionInfo info;
  } kCases[] = {
      {"version 0 reads as 2", SessionRecordBytes([](auto&) {}), {2, false, false}},
      {"answered, with the ratchet",
       SessionRecordBytes([&](auto& s) {
         s.session_version = 4;
         with_sender_chain(s);
         s.pq_ratchet_state = {1};
       }),
       {4, true, true}},
      {"unanswered, 30 days old",
       SessionRecordBytes([&](auto& s) {
         s.session_version = 3;
         with_sender_chain(s);
         s.pending_pre_key.emplace().timestamp = now - 2592000 + 60;
       }),
       {3, false, true}},
      {"unanswered, stale",
       SessionRecordBytes([&](auto& s) {
         s.session_version = 3;
         with_sender_chain(s);
         s.pending_pre_key.emplace().timestamp = now - 2592000 - 60;
       }),
       {3, false, false}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reply<SessionInfo> r = Call<SessionInfo>(18, c.record);
    ASSERT_EQ(0, r.action) << r.error.message;
    EXPECT_EQ(c.info, r.value);
  }
}

}  // namespace
}  // namespace velmo::api
