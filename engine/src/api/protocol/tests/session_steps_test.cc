// The session steps called directly, with randomness and time under the
// test's control: set-up and message keys against an independent
// derivation, the bundle checks, the limits of the receiving chain and the
// age of an unanswered session.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "api/protocol/bundle_setup.h"
#include "api/protocol/pre_key_message.h"
#include "api/protocol/session_cipher.h"
#include "api/protocol/tests/independent.h"
#include "api/protocol/tests/step_parties.h"
#include "protocol/log.h"
#include "protocol/messages.h"
#include "protocol/pq/ratchet.h"
#include "protocol/session_state.h"

namespace velmo::api {
namespace {

using testing::StepParty;
namespace ind = testing::independent;

constexpr uint64_t kSetUpTime = 1767225600;  // 2026-01-01T00:00:00Z
constexpr uint64_t kThirtyDays = 30 * 24 * 3600;

Bytes B(ByteView v) {
  return Bytes(v.begin(), v.end());
}

// Log lines of the steps, for reasons that never reach the caller.
std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}

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

struct Conversation {
  StepParty alice{{"alice", 1}, 1, 100};
  StepParty bob{{"bob", 2}, 2, 200};
  crypto::SeededRng rng{7};
  uint64_t now = kSetUpTime;

  StepContext Context() { return StepContext{rng, now}; }

  proto::Status SetUp(bool one_time, bool kyber) {
    Outcome<CheckedBundle> checked = CheckBundle(bob.Bundle(one_time, kyber));
    EXPECT_TRUE(checked.ok());
    return InitiateSession(alice.stores, bob.address, checked.value(),
                           Context());
  }

  EncryptedMessage Send(StepParty& from,
                        const StepParty& to,
                        std::string_view text) {
    proto::Result<EncryptedMessage> m =
        EncryptFor(from.stores, to.address, ind::Text(text), Context());
    if (!m.ok())
      throw std::runtime_error(m.error().message);
    return std::move(m.value());
  }

  proto::Result<SecretBytes> Receive(StepParty& to,
                                     const StepParty& from,
                                     const EncryptedMessage& m) {
    return m.kind == SignalMessageKind::PreKey
               ? DecryptPreKeyMessage(to.stores, from.address, m.bytes,
                                      Context())
               : DecryptOrdinary(to.stores, from.address, m.bytes, Context());
  }

  // Alice sets up, Bob receives her first message and answers, Alice reads
  // the answer: both sides then send ordinary messages.
  void Establish() {
    ASSERT_TRUE(SetUp(true, true).ok());
    ASSERT_TRUE(Receive(bob, alice, Send(alice, bob, "hello")).ok());
    ASSERT_TRUE(Receive(alice, bob, Send(bob, alice, "hi")).ok());
  }
};

proto::SessionStructure& Current(StepParty& p, const PeerAddress& peer) {
  // The stores hand out copies; tests reach in to look and to tamper.
  return const_cast<proto::SessionStructure&>(
      *p.stores.sessions.at(peer).current_session);
}

TEST(InitiatorSetUp, StateMatchesAnIndependentDerivation) {
  for (bool one_time : {false, true}) {
    for (bool kyber : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << "one-time " << one_time << ", Kyber " << kyber);
      Conversation c;
      crypto::SeededRng seeded(42);
      Bytes script(kyber ? 96 : 64);
      seeded.Fill(script);
      crypto::ScriptedRng scripted(script);
      Outcome<CheckedBundle> checked =
          CheckBundle(c.bob.Bundle(one_time, kyber));
      ASSERT_TRUE(checked.ok());
      ASSERT_TRUE(InitiateSession(c.alice.stores, c.bob.address,
                                  checked.value(),
                                  StepContext{scripted, kSetUpTime})
                      .ok());
      EXPECT_EQ(0u, scripted.remaining());

      // Base key, ratchet key and the encapsulation's randomness, in the
      // order drawn.
      const crypto::PrivateKey base(
          std::span<const uint8_t, 32>(&script[0], 32));
      const crypto::PrivateKey ratchet(
          std::span<const uint8_t, 32>(&script[32], 32));
      const StepParty& bob = c.bob;
      Bytes ikm = ind::Cat(
          {Bytes(32, 0xFF),
           ind::Dh(c.alice.identity.private_key, bob.signed_pre_key.public_key),
           ind::Dh(base, bob.identity.public_key),
           ind::Dh(base, bob.signed_pre_key.public_key)});
      if (one_time) {
        ikm = ind::Cat({ikm, ind::Dh(base, bob.one_time.public_key)});
      }
      std::optional<crypto::kyber1024::Encapsulation> kem;
      if (kyber) {
        kem = crypto::kyber1024::Encapsulate(
            bob.kyber.public_key,
            std::span<const uint8_t, 32>(&script[64], 32));
        ikm = ind::Cat({ikm, kem->shared_secret});
      }
      EXPECT_EQ(32u + 32 * (3 + one_time + kyber), ikm.size());
      const Bytes secrets =
          ind::Hkdf({}, ikm,
                    kyber ? "WhisperText_X25519_SHA-256_CRYSTALS-KYBER-1024"
                          : "WhisperText",
                    96);
      const Bytes sending =
          ind::Hkdf(ind::Slice(secrets, 0, 32),
                    ind::Dh(ratchet, bob.signed_pre_key.public_key),
                    "WhisperRatchet", 64);

      const proto::SessionStructure& s = Current(c.alice, bob.address);
      EXPECT_EQ(kyber ? 4u : 3u, s.session_version);
      EXPECT_EQ(StepParty::Encoded(c.alice.identity.public_key),
                B(s.local_identity_public));
      EXPECT_EQ(StepParty::Encoded(bob.identity.public_key),
                B(s.remote_identity_public));
      EXPECT_EQ(ind::Slice(sending, 0, 32), B(s.root_key));
      EXPECT_EQ(0u, s.previous_counter);
      ASSERT_TRUE(s.sender_chain.has_value());
      EXPECT_EQ(StepParty::Encoded(ratchet.GetPublicKey()),
                B(s.sender_chain->sender_ratchet_key));
      EXPECT_EQ(B(ratchet.bytes()),
                B(s.sender_chain->sender_ratchet_key_private));
      EXPECT_EQ(0u, s.sender_chain->chain_key->index);
      EXPECT_EQ(ind::Slice(sending, 32, 32), B(s.sender_chain->chain_key->key));
      ASSERT_EQ(1u, s.receiver_chains.size());
      EXPECT_EQ(StepParty::Encoded(bob.signed_pre_key.public_key),
                B(s.receiver_chains[0].sender_ratchet_key));
      EXPECT_EQ(0u, s.receiver_chains[0].chain_key->index);
      EXPECT_EQ(ind::Slice(secrets, 32, 32),
                B(s.receiver_chains[0].chain_key->key));
      ASSERT_TRUE(s.pending_pre_key.has_value());
      EXPECT_EQ(one_time ? std::optional<uint32_t>(StepParty::kOneTimeId)
                         : std::nullopt,
                s.pending_pre_key->pre_key_id);
      EXPECT_EQ(StepParty::Encoded(base.GetPublicKey()),
                B(s.pending_pre_key->base_key));
      EXPECT_EQ(static_cast<int32_t>(StepParty::kSignedId),
                s.pending_pre_key->signed_pre_key_id);
      EXPECT_EQ(kSetUpTime, s.pending_pre_key->timestamp);
      EXPECT_EQ(B(s.pending_pre_key->base_key), B(s.alice_base_key));
      EXPECT_EQ(bob.registration_id, s.remote_registration_id);
      EXPECT_EQ(c.alice.registration_id, s.local_registration_id);
      EXPECT_EQ(kyber, s.pending_kyber_pre_key.has_value());
      if (kyber) {
        EXPECT_EQ(StepParty::kKyberId, s.pending_kyber_pre_key->pre_key_id);
        EXPECT_EQ(crypto::EncodeKyberCiphertext(kem->ciphertext),
                  s.pending_kyber_pre_key->ciphertext);
      }
      const Bytes auth = ind::Slice(secrets, 64, 32);
      SecretBytes pq_state = pq::CreateState({auth, 0}).value();
      EXPECT_EQ(B(pq_state), B(s.pq_ratchet_state));
    }
  }
}

TEST(InitiatorSetUp, BundleChecksInOrder) {
  StepParty bob({"bob", 2}, 2, 200);
  struct Case {
    const char* name;
    void (*change)(PreKeyBundle&);
    ErrorKind kind;
    std::string message;
  };
  const Case cases[] = {
      {"one-time id without key",
       [](PreKeyBundle& b) { b.pre_key_public.reset(); },
       ErrorKind::InvalidArgument, "pre_key_id and pre_key_public go together"},
      {"one-time key without id", [](PreKeyBundle& b) { b.pre_key_id.reset(); },
       ErrorKind::InvalidArgument, "pre_key_id and pre_key_public go together"},
      {"Kyber id and key without signature",
       [](PreKeyBundle& b) { b.kyber_pre_key_signature.reset(); },
       ErrorKind::InvalidArgument,
       "kyber prekey id, key and signature go together"},
      {"Kyber signature alone",
       [](PreKeyBundle& b) {
         b.kyber_pre_key_id.reset();
         b.kyber_pre_key_public.reset();
       },
       ErrorKind::InvalidArgument,
       "kyber prekey id, key and signature go together"},
      {"empty one-time key",
       [](PreKeyBundle& b) { b.pre_key_public = Bytes(); },
       ErrorKind::InvalidKey, "no key type identifier"},
      {"short signed pre-key",
       [](PreKeyBundle& b) { b.signed_pre_key_public.resize(32); },
       ErrorKind::InvalidKey, "bad key length <32> for key with type <Djb>"},
      {"identity key of type 7", [](PreKeyBundle& b) { b.identity_key[0] = 7; },
       ErrorKind::InvalidKey, "bad key type <0x07>"},
      {"Kyber key of 1570 bytes",
       [](PreKeyBundle& b) { b.kyber_pre_key_public->push_back(0); },
       ErrorKind::Other,
       "bad KEM key length <1570> for key with type <Kyber1024>"},
      {"Kyber key of type 5",
       [](PreKeyBundle& b) { (*b.kyber_pre_key_public)[0] = 5; },
       ErrorKind::InvalidKey, "bad KEM key type <0x05>"},
      {"empty Kyber key",
       [](PreKeyBundle& b) { b.kyber_pre_key_public = Bytes(); },
       ErrorKind::InvalidKey, "no key type identifier"},
      {"pairing before a bad identity key",
       [](PreKeyBundle& b) {
         b.pre_key_id.reset();
         b.identity_key.clear();
       },
       ErrorKind::InvalidArgument, "pre_key_id and pre_key_public go together"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PreKeyBundle bundle = bob.Bundle(true, true);
    c.change(bundle);
    Outcome<CheckedBundle> checked = CheckBundle(bundle);
    ASSERT_FALSE(checked.ok());
    EXPECT_EQ((EngineError{c.kind, c.message}), checked.error());
  }
  EXPECT_TRUE(CheckBundle(bob.Bundle(false, false)).ok());
}

TEST(InitiatorSetUp, RefusesUntrustedIdentitiesAndBadSignatures) {
  struct Case {
    const char* name;
    void (*change)(PreKeyBundle&);
    std::string message;
  };
  const Case cases[] = {
      {"63-byte signature",
       [](PreKeyBundle& b) { b.signed_pre_key_signature.pop_back(); },
       "invalid signature detected"},
      {"signature of the Kyber key",
       [](PreKeyBundle& b) {
         b.signed_pre_key_signature = *b.kyber_pre_key_signature;
       },
       "invalid signature detected"},
      {"Kyber signature of the signed pre-key",
       [](PreKeyBundle& b) {
         b.kyber_pre_key_signature = b.signed_pre_key_signature;
       },
       "invalid signature detected"},
      {"another remembered identity",
       [](PreKeyBundle& b) { b.identity_key[5] ^= 1; },
       "untrusted identity for address bob.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Conversation conv;
    ASSERT_TRUE(conv.alice.stores.identity
                    .Load(conv.bob.address,
                          StepParty::Encoded(conv.bob.identity.public_key))
                    .ok());
    PreKeyBundle bundle = conv.bob.Bundle(true, true);
    c.change(bundle);
    Outcome<CheckedBundle> checked = CheckBundle(bundle);
    ASSERT_TRUE(checked.ok());
    proto::Status status = InitiateSession(conv.alice.stores, conv.bob.address,
                                           checked.value(), conv.Context());
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(c.message, status.error().message);
    EXPECT_TRUE(conv.alice.stores.sessions.stored().empty());
    EXPECT_TRUE(conv.alice.stores.identity.saved().empty());
  }

  // A signature over the key without its type byte does not count.
  Conversation conv;
  PreKeyBundle bundle = conv.bob.Bundle(false, false);
  crypto::SeededRng rng(9);
  crypto::Signature bare =
      crypto::XEdDsaSign(conv.bob.identity.private_key,
                         conv.bob.signed_pre_key.public_key.bytes(), rng);
  bundle.signed_pre_key_signature = Bytes(bare.begin(), bare.end());
  proto::Status status =
      InitiateSession(conv.alice.stores, conv.bob.address,
                      CheckBundle(bundle).value(), conv.Context());
  ASSERT_FALSE(status.ok());
  EXPECT_EQ("invalid signature detected", status.error().message);
}

TEST(MessageKeys, FirstMessageMatchesAnIndependentDerivation) {
  Conversation c;
  ASSERT_TRUE(c.SetUp(true, true).ok());
  const proto::SessionStructure before = Current(c.alice, c.bob.address);
  const EncryptedMessage sent = c.Send(c.alice, c.bob, "attack at dawn");
  ASSERT_EQ(SignalMessageKind::PreKey, sent.kind);
  EXPECT_EQ(4, sent.version);

  proto::Result<proto::PreKeySignalMessage> outer =
      proto::ReadPreKeySignalMessage(sent.bytes);
  ASSERT_TRUE(outer.ok()) << outer.error().message;
  EXPECT_EQ(c.alice.registration_id, outer->registration_id);
  EXPECT_EQ(StepParty::kOneTimeId, outer->pre_key_id);
  EXPECT_EQ(StepParty::kSignedId, outer->signed_pre_key_id);
  EXPECT_EQ(StepParty::kKyberId, outer->kyber_pre_key_id);
  EXPECT_EQ(before.pending_kyber_pre_key->ciphertext, outer->kyber_ciphertext);
  EXPECT_EQ(B(before.alice_base_key), StepParty::Encoded(outer->base_key));
  EXPECT_EQ(StepParty::Encoded(c.alice.identity.public_key),
            StepParty::Encoded(outer->identity_key));
  const proto::SignalMessage& m = outer->message;
  EXPECT_EQ(0u, m.counter);
  EXPECT_EQ(0u, m.previous_counter);
  EXPECT_EQ(B(before.sender_chain->sender_ratchet_key),
            StepParty::Encoded(m.ratchet_key));

  // The bundle side's first message carries no post-quantum key, so its
  // keys come from the chain key alone.
  const Bytes chain_key = B(before.sender_chain->chain_key->key);
  const uint8_t one = 1;
  const Bytes seed = ind::Hmac(chain_key, ByteView(&one, 1));
  const Bytes keys = ind::Hkdf({}, seed, "WhisperMessageKeys", 80);
  EXPECT_EQ(B(ind::Text("attack at dawn")),
            ind::AesCbcDecrypt(ind::Slice(keys, 0, 32),
                               ind::Slice(keys, 64, 16), m.ciphertext));
  const Bytes mac = ind::Hmac(
      ind::Slice(keys, 32, 32),
      ind::Cat({StepParty::Encoded(c.alice.identity.public_key),
                StepParty::Encoded(c.bob.identity.public_key),
                ByteView(m.serialized).first(m.serialized.size() - 8)}));
  EXPECT_EQ(ind::Slice(mac, 0, 8), B(ByteView(m.serialized).last(8)));

  // The chain moved on by HMAC(chain key, 0x02).
  const uint8_t two = 2;
  const proto::SessionStructure& after = Current(c.alice, c.bob.address);
  EXPECT_EQ(1u, after.sender_chain->chain_key->index);
  EXPECT_EQ(ind::Hmac(chain_key, ByteView(&two, 1)),
            B(after.sender_chain->chain_key->key));
}

TEST(MessageKeys, TheAnswerIsSaltedWithThePostQuantumKey) {
  Conversation c;
  ASSERT_TRUE(c.SetUp(false, true).ok());
  ASSERT_TRUE(c.Receive(c.bob, c.alice, c.Send(c.alice, c.bob, "hello")).ok());
  const EncryptedMessage answer = c.Send(c.bob, c.alice, "the answer");
  ASSERT_EQ(SignalMessageKind::Whisper, answer.kind);
  const proto::SessionStructure before = Current(c.alice, c.bob.address);
  proto::SignalMessage m = proto::ReadSignalMessage(answer.bytes).value();

  pq::Result<pq::ReceiveResult> pq_step =
      pq::Receive(before.pq_ratchet_state, m.pq_ratchet);
  ASSERT_TRUE(pq_step.ok());
  ASSERT_TRUE(pq_step->key.has_value());
  const crypto::PrivateKey ratchet(std::span<const uint8_t, 32>(
      before.sender_chain->sender_ratchet_key_private.data(), 32));
  const Bytes receiving =
      ind::Hkdf(B(before.root_key), ind::Dh(ratchet, m.ratchet_key),
                "WhisperRatchet", 64);
  const uint8_t one = 1;
  const Bytes seed =
      ind::Hmac(ind::Slice(receiving, 32, 32), ByteView(&one, 1));
  const Bytes keys =
      ind::Hkdf(ByteView(*pq_step->key), seed, "WhisperMessageKeys", 80);
  EXPECT_EQ(B(ind::Text("the answer")),
            ind::AesCbcDecrypt(ind::Slice(keys, 0, 32),
                               ind::Slice(keys, 64, 16), m.ciphertext));

  proto::Result<SecretBytes> plain = c.Receive(c.alice, c.bob, answer);
  ASSERT_TRUE(plain.ok()) << plain.error().message;
  EXPECT_EQ(B(ind::Text("the answer")), B(*plain));
  // Answered: the pending set-up data is gone and the next message is an
  // ordinary one.
  EXPECT_FALSE(Current(c.alice, c.bob.address).pending_pre_key.has_value());
  EXPECT_EQ(SignalMessageKind::Whisper, c.Send(c.alice, c.bob, "x").kind);
}

TEST(UnansweredSession, CannotEncryptAfterThirtyDays) {
  Conversation c;
  ASSERT_TRUE(c.SetUp(false, false).ok());
  c.now = kSetUpTime + kThirtyDays;
  EXPECT_EQ(SignalMessageKind::PreKey, c.Send(c.alice, c.bob, "still").kind);
  c.now += 1;
  LogCapture log;
  proto::Result<EncryptedMessage> stale =
      EncryptFor(c.alice.stores, c.bob.address, ind::Text("late"), c.Context());
  ASSERT_FALSE(stale.ok());
  EXPECT_EQ("session with bob.2 not found", stale.error().message);
  EXPECT_TRUE(log.Saw("stale unacknowledged session for bob.2 (created at " +
                      std::to_string(kSetUpTime) + ")"));

  // A clock behind the set-up time is not stale either.
  c.now = kSetUpTime - 100;
  EXPECT_EQ(SignalMessageKind::PreKey, c.Send(c.alice, c.bob, "early").kind);
}

TEST(UnansweredSession, AnAnsweredSessionDoesNotAge) {
  Conversation c;
  c.Establish();
  c.now = kSetUpTime + 10 * kThirtyDays;
  EXPECT_EQ(SignalMessageKind::Whisper, c.Send(c.alice, c.bob, "later").kind);
}

// Turns the post-quantum ratchet off on both sides, as with a peer that
// does not run it, so that the receiving chain's own limits show.
void WithoutPostQuantumRatchet(Conversation& c) {
  Current(c.alice, c.bob.address).pq_ratchet_state.clear();
  Current(c.bob, c.alice.address).pq_ratchet_state.clear();
}

TEST(ReceivingChain, JumpsUpTo25000AndKeeps2000Keys) {
  Conversation c;
  c.Establish();
  WithoutPostQuantumRatchet(c);
  std::vector<EncryptedMessage> sent;
  for (int i = 0; i <= 25001; i++) {
    sent.push_back(c.Send(c.alice, c.bob, std::to_string(i)));
  }
  {
    LogCapture log;
    proto::Result<SecretBytes> too_far = c.Receive(c.bob, c.alice, sent[25001]);
    ASSERT_FALSE(too_far.ok());
    EXPECT_EQ("invalid Whisper message: decryption failed",
              too_far.error().message);
    EXPECT_TRUE(
        log.Saw("Exceeded future message limit: 25000, index: 0, "
                "counter: 25001)"));
  }
  proto::Result<SecretBytes> far = c.Receive(c.bob, c.alice, sent[25000]);
  ASSERT_TRUE(far.ok()) << far.error().message;
  EXPECT_EQ(B(ind::Text("25000")), B(*far));

  const proto::Chain& chain =
      Current(c.bob, c.alice.address).receiver_chains.back();
  EXPECT_EQ(25001u, chain.chain_key->index);
  ASSERT_EQ(2000u, chain.message_keys.size());
  EXPECT_EQ(24999u, chain.message_keys.front().index);
  EXPECT_EQ(23000u, chain.message_keys.back().index);

  EXPECT_EQ(B(ind::Text("23000")),
            B(c.Receive(c.bob, c.alice, sent[23000]).value()));
  proto::Result<SecretBytes> dropped = c.Receive(c.bob, c.alice, sent[22999]);
  ASSERT_FALSE(dropped.ok());
  EXPECT_EQ("message with old counter 25001 / 22999", dropped.error().message);
  EXPECT_EQ(B(ind::Text("25001")),
            B(c.Receive(c.bob, c.alice, sent[25001]).value()));
}

TEST(ReceivingChain, ThePostQuantumRatchetCountsItsJumpFromTheLastKey) {
  // Its limit counts from the last key taken, the receiving chain's from
  // the next index: with both running, 24999 skipped messages is the most.
  Conversation c;
  c.Establish();
  std::vector<EncryptedMessage> sent;
  for (int i = 0; i <= 25000; i++) {
    sent.push_back(c.Send(c.alice, c.bob, std::to_string(i)));
  }
  LogCapture log;
  proto::Result<SecretBytes> too_far = c.Receive(c.bob, c.alice, sent[25000]);
  ASSERT_FALSE(too_far.ok());
  EXPECT_EQ("invalid Whisper message: decryption failed",
            too_far.error().message);
  EXPECT_TRUE(
      log.Saw("post-quantum ratchet error in "
              "decrypt_message_with_state: Key jump: 0 - 25001"));
  EXPECT_TRUE(c.Receive(c.bob, c.alice, sent[24999]).ok());
}

TEST(ReceivingChain, ASessionWithOneselfJumpsFurther) {
  // Two devices of one user: one identity key on both ends.
  StepParty one({"alice", 1}, 1, 100);
  StepParty two({"alice", 2}, 1, 300);
  crypto::SeededRng rng(3);
  StepContext context{rng, kSetUpTime};
  ASSERT_TRUE(InitiateSession(one.stores, two.address,
                              CheckBundle(two.Bundle(true, true)).value(),
                              context)
                  .ok());
  auto send = [&](StepParty& from, const StepParty& to) {
    return EncryptFor(from.stores, to.address, ind::Text("note"), context)
        .value();
  };
  EncryptedMessage first = send(one, two);
  ASSERT_TRUE(
      DecryptPreKeyMessage(two.stores, one.address, first.bytes, context).ok());
  EncryptedMessage answer = send(two, one);
  ASSERT_TRUE(
      DecryptOrdinary(one.stores, two.address, answer.bytes, context).ok());

  EncryptedMessage last{};
  for (int i = 0; i <= 30000; i++)
    last = send(one, two);
  LogCapture log;
  proto::Result<SecretBytes> plain =
      DecryptOrdinary(two.stores, one.address, last.bytes, context);
  ASSERT_TRUE(plain.ok()) << plain.error().message;
  EXPECT_TRUE(
      log.Saw("Jumping ahead 30000 messages (index: 0, counter: 30000)"));
}

}  // namespace
}  // namespace velmo::api
