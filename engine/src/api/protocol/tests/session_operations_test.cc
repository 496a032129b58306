// Operations 2, 3 and 16 through the C entry points, between devices that
// keep their records the way the Dart side does: set-up in every form, the
// first message and its answer, and the edge cases whose outcome the caller
// sees (errors, and which changes come back).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/protocol/tests/dart_side.h"
#include "protocol/log.h"
#include "protocol/messages.h"

namespace velmo::api {

using crypto::ByteView;
namespace {

using testing::DartSide;
using testing::Reply;

Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}
Bytes B(ByteView v) {
  return Bytes(v.begin(), v.end());
}

std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}

// Installs a log sink for its lifetime: some reasons reach only the log.
class LogCapture {
 public:
  LogCapture() {
    Lines().clear();
    log::SetSink(
        [](log::Level, std::string_view line) { Lines().emplace_back(line); },
        log::Level::kDebug);
  }
  ~LogCapture() { log::SetSink(nullptr, log::Level::kError); }
  bool Saw(std::string_view needle) const {
    for (const std::string& l : Lines()) {
      if (l.find(needle) != std::string::npos)
        return true;
    }
    return false;
  }
};

template <class R>
::testing::AssertionResult IsError(const Reply<R>& reply,
                                   ErrorKind kind,
                                   std::string_view message) {
  if (reply.action != 1) {
    return ::testing::AssertionFailure()
           << "action " << int(reply.action) << " " << reply.fault;
  }
  if (reply.error.kind != kind || reply.error.message != message) {
    return ::testing::AssertionFailure()
           << "kind " << int(reply.error.kind) << ": " << reply.error.message;
  }
  return ::testing::AssertionSuccess();
}

// Ok returns the value of a reply that must have succeeded.
template <class R>
R Ok(Reply<R> reply) {
  EXPECT_EQ(0, reply.action) << reply.error.message << reply.fault;
  return std::move(reply.value);
}

Bytes BaseKeyOf(const proto::SessionStructure& state) {
  return B(state.alice_base_key);
}

class Devices : public ::testing::Test {
 protected:
  DartSide alice{{"alice", 1}};
  DartSide bob{{"bob", 2}};

  EncryptResult Send(DartSide& from,
                     const DartSide& to,
                     std::string_view text) {
    return Ok(from.Encrypt(to.address(), Text(text)));
  }
  Reply<DecryptResult> Deliver(DartSide& to,
                               const DartSide& from,
                               const EncryptResult& m) {
    return to.Decrypt(from.address(), m.kind, m.ciphertext);
  }
  void Establish() {
    Ok(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
    Ok(Deliver(bob, alice, Send(alice, bob, "hello")));
    Ok(Deliver(alice, bob, Send(bob, alice, "hi")));
  }
};

TEST_F(Devices, EverySetUpLeadsToAConversation) {
  for (bool one_time : {false, true}) {
    for (bool kyber : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << "one-time " << one_time << ", Kyber " << kyber);
      DartSide a({"alice", 1});
      DartSide b({"bob", 2});
      const PreKeyBundle bundle = b.Bundle(one_time, kyber);
      const StoreChanges set_up = Ok(a.ProcessBundle(b.address(), bundle));
      ASSERT_EQ(1u, set_up.sessions.size());
      EXPECT_EQ(b.address(), set_up.sessions[0].address);
      ASSERT_EQ(1u, set_up.identities.size());
      EXPECT_EQ(b.identity_public(), B(set_up.identities[0].data));
      EXPECT_EQ((StoreChanges{set_up.sessions, set_up.identities}), set_up);

      const EncryptResult first = Send(a, b, "first");
      EXPECT_EQ(SignalMessageKind::PreKey, first.kind);
      EXPECT_EQ(kyber ? 4 : 3, first.version);
      EXPECT_EQ(first.version, first.ciphertext[0] >> 4);

      const DecryptResult got = Ok(Deliver(b, a, first));
      EXPECT_EQ(Text("first"), B(got.plaintext));
      const StoreChanges c = got.changes;
      ASSERT_EQ(1u, c.sessions.size());
      EXPECT_EQ(a.address(), c.sessions[0].address);
      ASSERT_EQ(1u, c.identities.size());
      EXPECT_EQ(a.identity_public(), B(c.identities[0].data));
      EXPECT_EQ(one_time ? std::vector<uint32_t>{*bundle.pre_key_id}
                         : std::vector<uint32_t>{},
                c.removed_pre_keys);
      EXPECT_EQ(kyber ? std::vector<uint32_t>{*bundle.kyber_pre_key_id}
                      : std::vector<uint32_t>{},
                c.used_kyber_pre_keys);
      EXPECT_TRUE(c.replaced_identities.empty() && c.pre_keys.empty() &&
                  c.signed_pre_keys.empty() && c.kyber_pre_keys.empty());

      const EncryptResult answer = Send(b, a, "answer");
      EXPECT_EQ(SignalMessageKind::Whisper, answer.kind);
      EXPECT_EQ(Text("answer"), B(Ok(Deliver(a, b, answer)).plaintext));
      EXPECT_EQ(SignalMessageKind::Whisper, Send(a, b, "and on").kind);
    }
  }
}

TEST_F(Devices, FailedSetUpsHandBackNothing) {
  // Bob's identity as remembered differs from the bundle's.
  PreKeyBundle other = bob.Bundle(true, true);
  other.identity_key = alice.identity_public();
  alice.identities[bob.address()] =
      SecretBytes(bob.identity_public().begin(), bob.identity_public().end());
  EXPECT_TRUE(IsError(alice.ProcessBundle(bob.address(), other),
                      ErrorKind::UntrustedIdentity,
                      "untrusted identity for address bob.2"));

  PreKeyBundle unpaired = bob.Bundle(true, true);
  unpaired.pre_key_public.reset();
  EXPECT_TRUE(IsError(alice.ProcessBundle(bob.address(), unpaired),
                      ErrorKind::InvalidArgument,
                      "pre_key_id and pre_key_public go together"));
  PreKeyBundle kyber_unsigned = bob.Bundle(true, true);
  kyber_unsigned.kyber_pre_key_signature.reset();
  EXPECT_TRUE(IsError(alice.ProcessBundle(bob.address(), kyber_unsigned),
                      ErrorKind::InvalidArgument,
                      "kyber prekey id, key and signature go together"));
  EXPECT_TRUE(alice.sessions.empty());

  // The snapshot is read before the bundle.
  DartSide nobody({"nobody", 1});
  StoreSnapshot empty;
  EXPECT_TRUE(
      IsError(testing::Call<StoreChanges>(DartSide::kProcessBundle, empty,
                                          bob.address(), unpaired),
              ErrorKind::InvalidKey, "no key type identifier"));
}

// The failures of set-up and of a first pre-key message that reach the
// caller, each with its kind; nothing is handed back with any of them.
TEST_F(Devices, EveryFailureTextWithItsKind) {
  const PreKeyBundle bundle = bob.Bundle(true, true);
  PreKeyBundle badly_signed = bundle;
  badly_signed.signed_pre_key_signature[0] ^= 1;
  EXPECT_TRUE(IsError(alice.ProcessBundle(bob.address(), badly_signed),
                      ErrorKind::InvalidKey, "invalid signature detected"));
  Ok(alice.ProcessBundle(bob.address(), bundle));
  const EncryptResult first = Send(alice, bob, "hello");
  const proto::PreKeySignalMessage m =
      proto::ReadPreKeySignalMessage(first.ciphertext).value();

  // The message rebuilt with one field changed.
  auto rebuilt = [&](Bytes kyber_ciphertext, ByteView inner,
                     std::optional<uint32_t> kyber_id) {
    return proto::BuildPreKeySignalMessage(
        {m.message_version, m.registration_id, m.pre_key_id,
         m.signed_pre_key_id, kyber_id, kyber_ciphertext, m.base_key,
         m.identity_key, inner});
  };
  Bytes long_kem = m.kyber_ciphertext;
  long_kem.push_back(0);
  Bytes typed_kem = m.kyber_ciphertext;
  typed_kem[0] = 0x05;
  Bytes broken_inner = m.message.serialized;
  broken_inner.back() ^= 1;

  struct Case {
    const char* name;
    Bytes message;
    void (*spoil)(DartSide& bob);
    ErrorKind kind;
    std::string text;
  };
  const Case cases[] = {
      {"signed pre-key gone", first.ciphertext,
       [](DartSide& b) { b.signed_pre_keys.clear(); },
       ErrorKind::InvalidPreKeyId, "invalid signed prekey identifier"},
      {"one-time pre-key gone", first.ciphertext,
       [](DartSide& b) { b.pre_keys.clear(); }, ErrorKind::InvalidPreKeyId,
       "invalid prekey identifier"},
      {"Kyber ciphertext of 1570 bytes",
       rebuilt(long_kem, m.message.serialized, m.kyber_pre_key_id),
       [](DartSide&) {}, ErrorKind::Other,
       "bad KEM ciphertext length <1570> for key with type <Kyber1024>"},
      {"Kyber ciphertext of type 5",
       rebuilt(typed_kem, m.message.serialized, m.kyber_pre_key_id),
       [](DartSide&) {}, ErrorKind::InvalidKey, "bad KEM key type <0x05>"},
      {"version 4 without Kyber", rebuilt({}, m.message.serialized, {}),
       [](DartSide&) {}, ErrorKind::InvalidMessage,
       "invalid PreKey message: Kyber pre key must be present for this "
       "session version"},
      {"inner MAC broken",
       rebuilt(m.kyber_ciphertext, broken_inner, m.kyber_pre_key_id),
       [](DartSide&) {}, ErrorKind::InvalidMessage,
       "invalid PreKey message: decryption failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DartSide receiver = bob;
    c.spoil(receiver);
    const auto pre_keys = receiver.pre_keys;
    const auto kyber_pre_keys = receiver.kyber_pre_keys;
    EXPECT_TRUE(IsError(
        receiver.Decrypt(alice.address(), SignalMessageKind::PreKey, c.message),
        c.kind, c.text));
    EXPECT_TRUE(receiver.sessions.empty() && receiver.identities.empty());
    EXPECT_EQ(pre_keys, receiver.pre_keys);
    EXPECT_EQ(kyber_pre_keys, receiver.kyber_pre_keys);
  }
  EXPECT_EQ(Text("hello"), B(Ok(Deliver(bob, alice, first)).plaintext));
}

TEST_F(Devices, SettingUpAgainArchivesTheFirstStateWithoutItsPendingData) {
  const PreKeyBundle bundle = bob.Bundle(true, true);
  Ok(alice.ProcessBundle(bob.address(), bundle));
  const Bytes first_base =
      BaseKeyOf(*alice.Session(bob.address()).current_session);

  const StoreChanges again = Ok(alice.ProcessBundle(bob.address(), bundle));
  EXPECT_EQ(1u, again.sessions.size());
  EXPECT_TRUE(again.identities.empty());  // remembered by the first run

  const proto::RecordStructure record = alice.Session(bob.address());
  EXPECT_NE(first_base, BaseKeyOf(*record.current_session));
  EXPECT_TRUE(record.current_session->pending_pre_key.has_value());
  ASSERT_EQ(1u, record.previous_sessions.size());
  proto::SessionStructure archived;
  ASSERT_TRUE(proto::Decode(record.previous_sessions[0], &archived));
  EXPECT_EQ(first_base, BaseKeyOf(archived));
  EXPECT_FALSE(archived.pending_pre_key.has_value());
  EXPECT_FALSE(archived.pending_kyber_pre_key.has_value());
}

TEST_F(Devices, UnansweredMessagesRepeatTheSetUpData) {
  Ok(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
  const EncryptResult one = Send(alice, bob, "");
  const EncryptResult two = Send(alice, bob, "again");
  ASSERT_EQ(SignalMessageKind::PreKey, two.kind);
  const auto a = proto::ReadPreKeySignalMessage(one.ciphertext).value();
  const auto b = proto::ReadPreKeySignalMessage(two.ciphertext).value();
  EXPECT_EQ(16u, a.message.ciphertext.size());  // an empty plaintext pads
  EXPECT_EQ(a.message.counter + 1, b.message.counter);
  EXPECT_EQ(a.message.previous_counter, b.message.previous_counter);
  EXPECT_TRUE(a.message.ratchet_key == b.message.ratchet_key);
  EXPECT_TRUE(a.base_key == b.base_key);
  EXPECT_EQ(a.pre_key_id, b.pre_key_id);
  EXPECT_EQ(a.kyber_pre_key_id, b.kyber_pre_key_id);
  EXPECT_EQ(a.kyber_ciphertext, b.kyber_ciphertext);

  // The first consumes the pre-keys; the second finds its session by base
  // key and consumes nothing; the first again is a duplicate.
  const DecryptResult got_one = Ok(Deliver(bob, alice, one));
  EXPECT_EQ(1u, got_one.changes.removed_pre_keys.size());
  EXPECT_EQ(1u, got_one.changes.used_kyber_pre_keys.size());
  const DecryptResult got_two = Ok(Deliver(bob, alice, two));
  EXPECT_EQ(Text("again"), B(got_two.plaintext));
  EXPECT_TRUE(got_two.changes.removed_pre_keys.empty());
  EXPECT_TRUE(got_two.changes.used_kyber_pre_keys.empty());
  EXPECT_TRUE(got_two.changes.identities.empty());
  EXPECT_TRUE(IsError(Deliver(bob, alice, one), ErrorKind::DuplicateMessage,
                      "message with old counter 2 / 0"));
}

TEST_F(Devices, APreKeyMessageNeedsItsPreKeys) {
  Ok(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
  const EncryptResult first = Send(alice, bob, "hello");
  const uint32_t kyber_id =
      *proto::ReadPreKeySignalMessage(first.ciphertext)->kyber_pre_key_id;
  const SecretBytes kept = bob.kyber_pre_keys.at(kyber_id);
  bob.kyber_pre_keys.erase(kyber_id);
  const auto pre_keys_before = bob.pre_keys;
  EXPECT_TRUE(IsError(Deliver(bob, alice, first), ErrorKind::InvalidPreKeyId,
                      "invalid Kyber prekey identifier"));
  EXPECT_TRUE(bob.sessions.empty() && bob.identities.empty());
  EXPECT_EQ(pre_keys_before, bob.pre_keys);

  // Nothing was consumed, so it works once the Dart side has the key again.
  bob.kyber_pre_keys[kyber_id] = kept;
  EXPECT_EQ(Text("hello"), B(Ok(Deliver(bob, alice, first)).plaintext));
}

TEST_F(Devices, AnUntrustedSenderIsRefused) {
  Ok(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
  bob.identities[alice.address()] =
      SecretBytes(bob.identity_public().begin(), bob.identity_public().end());
  EXPECT_TRUE(IsError(Deliver(bob, alice, Send(alice, bob, "hello")),
                      ErrorKind::UntrustedIdentity,
                      "untrusted identity for address alice.1"));
}

TEST_F(Devices, OrdinaryMessagesOutOfOrderAndTwice) {
  Establish();
  std::vector<EncryptResult> sent;
  for (int i = 0; i < 6; i++)
    sent.push_back(Send(alice, bob, std::to_string(i)));
  for (int i : {0, 1, 2})
    Ok(Deliver(bob, alice, sent[i]));
  EXPECT_EQ(Text("5"), B(Ok(Deliver(bob, alice, sent[5])).plaintext));
  EXPECT_EQ(Text("3"), B(Ok(Deliver(bob, alice, sent[3])).plaintext));
  EXPECT_TRUE(IsError(Deliver(bob, alice, sent[3]), ErrorKind::DuplicateMessage,
                      "message with old counter 6 / 3"));
  EXPECT_EQ(Text("4"), B(Ok(Deliver(bob, alice, sent[4])).plaintext));

  // Nobody to decrypt with.
  DartSide carol({"carol", 3});
  EXPECT_TRUE(IsError(Deliver(carol, alice, sent[0]), ErrorKind::NoSession,
                      "session with alice.1 not found"));
}

TEST_F(Devices, AFlippedMacBitFailsEveryState) {
  Establish();
  const EncryptResult m = Send(alice, bob, "intact");
  EncryptResult broken = m;
  broken.ciphertext.back() ^= 0x10;
  LogCapture log;
  const auto records_before = bob.sessions;
  EXPECT_TRUE(IsError(Deliver(bob, alice, broken), ErrorKind::InvalidMessage,
                      "invalid Whisper message: decryption failed"));
  EXPECT_TRUE(log.Saw("MAC verification failed"));
  EXPECT_EQ(records_before, bob.sessions);
  EXPECT_EQ(Text("intact"), B(Ok(Deliver(bob, alice, m)).plaintext));
}

TEST_F(Devices, TheThirdArchivedStateIsPromoted) {
  // Bob answers in the first session while Alice has set up three more.
  Ok(alice.ProcessBundle(bob.address(), bob.Bundle(false, true)));
  const Bytes first_base =
      BaseKeyOf(*alice.Session(bob.address()).current_session);
  Ok(Deliver(bob, alice, Send(alice, bob, "hello")));
  for (int i = 0; i < 3; i++) {
    Ok(alice.ProcessBundle(bob.address(), bob.Bundle(false, true)));
  }
  const proto::RecordStructure before = alice.Session(bob.address());
  ASSERT_EQ(3u, before.previous_sessions.size());
  const Bytes newest_base = BaseKeyOf(*before.current_session);

  EXPECT_EQ(
      Text("late answer"),
      B(Ok(Deliver(alice, bob, Send(bob, alice, "late answer"))).plaintext));
  const proto::RecordStructure after = alice.Session(bob.address());
  EXPECT_EQ(first_base, BaseKeyOf(*after.current_session));
  ASSERT_EQ(3u, after.previous_sessions.size());
  proto::SessionStructure demoted;
  ASSERT_TRUE(proto::Decode(after.previous_sessions[0], &demoted));
  EXPECT_EQ(newest_base, BaseKeyOf(demoted));
  EXPECT_FALSE(demoted.pending_pre_key.has_value());
  EXPECT_EQ(B(before.previous_sessions[0]), B(after.previous_sessions[1]));
  EXPECT_EQ(B(before.previous_sessions[1]), B(after.previous_sessions[2]));
}

}  // namespace
}  // namespace velmo::api
