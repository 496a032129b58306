// The key exchange and the send/receive procedures around it, driven through
// the ratchet's public operations with two parties in conversation.
#include <gtest/gtest.h>

#include "protocol/pq/exchange.h"
#include "protocol/pq/message.h"
#include "protocol/pq/ratchet.h"
#include "protocol/pq/records.h"
#include "tests/conversation.h"

namespace velmo::pq {
namespace {

using testing::Conversation;
using testing::InnerOf;

constexpr int kA = 0;
constexpr int kB = 1;

PqRatchetStateRecord RecordOf(ByteView state) {
  PqRatchetStateRecord r;
  EXPECT_TRUE(Decode(state, &r));
  return r;
}

Message MessageOf(ByteView bytes) { return DecodeMessage(bytes).value(); }

void ExpectError(const Error& e, ErrorCode code, std::string_view text) {
  EXPECT_EQ(code, e.code);
  EXPECT_EQ(text, e.message);
}

TEST(ExchangeTest, FirstMessageOfEachSide) {
  Conversation c(1);
  Conversation::Sent a1 = c.Send(kA);
  Message m = MessageOf(a1.message);
  EXPECT_EQ(1u, m.epoch);
  EXPECT_EQ(0u, m.index);
  EXPECT_EQ(MessageType::kHdr, m.type);
  ASSERT_TRUE(m.chunk.has_value());
  EXPECT_EQ(0, m.chunk->index);
  EXPECT_FALSE(a1.key.has_value());
  EXPECT_FALSE(RecordOf(c.state(kA)).chain.has_value());
  EXPECT_TRUE(RecordOf(c.state(kA)).version_negotiation.has_value());

  Result<ReceiveResult> b_got = c.Deliver(kB, a1.message);
  ASSERT_TRUE(b_got.ok());
  EXPECT_FALSE(b_got->key.has_value());
  EXPECT_TRUE(RecordOf(c.state(kB)).chain.has_value());
  EXPECT_FALSE(RecordOf(c.state(kB)).version_negotiation.has_value());

  Conversation::Sent b1 = c.Send(kB);
  m = MessageOf(b1.message);
  EXPECT_EQ(1u, m.epoch);
  EXPECT_EQ(1u, m.index);
  EXPECT_EQ(MessageType::kNone, m.type);
  ASSERT_TRUE(b1.key.has_value());
  Result<ReceiveResult> a_got = c.Deliver(kA, b1.message);
  ASSERT_TRUE(a_got.ok());
  ASSERT_TRUE(a_got->key.has_value());
  EXPECT_TRUE(crypto::ct_equal(ByteView(*b1.key), ByteView(*a_got->key)));
  EXPECT_FALSE(RecordOf(c.state(kA)).version_negotiation.has_value());
}

TEST(ExchangeTest, KeySideWaitsForTheFirstCiphertextChunk) {
  Conversation c(2);
  c.Exchange(kA);  // header chunk 0
  c.Exchange(kB);  // B has no header yet: type 0
  EXPECT_EQ("KeysSampled", c.state_name(kA));

  // A header chunk of A's own epoch (as if reflected) changes nothing either.
  V1State a = c.inner(kA);
  Message hdr{1, 5, MessageType::kHdr, Chunk{}};
  ASSERT_TRUE(ReceiveStep(a, hdr).ok());
  EXPECT_EQ("KeysSampled", StateName(a));

  c.Exchange(kA);
  c.Exchange(kA);  // header complete at B
  EXPECT_EQ("HeaderReceived", c.state_name(kB));
  Conversation::Sent ct1 = c.Exchange(kB);
  EXPECT_EQ(MessageType::kCt1, MessageOf(ct1.message).type);
  EXPECT_EQ("Ct1Sampled", c.state_name(kB));
  EXPECT_EQ("HeaderSent", c.state_name(kA));
}

TEST(ExchangeTest, EpochChecksOfTheReceiveStep) {
  const crypto::Bytes key(32, 9);
  const Authenticator auth3 = Authenticator::Create(key, 3);
  const V1State ct2_sampled =
      Ct2Sampled{3, auth3, ChunkEncoder(crypto::Bytes(160, 1))};
  const V1State no_header =
      NoHeaderReceived{3, auth3, ChunkDecoder(48)};
  const struct {
    const char* name;
    const V1State* state;
    uint64_t epoch;
    const char* error;  // nullptr: accepted
    const char* next;
  } kCases[] = {
      {"ct side, older epoch", &ct2_sampled, 2, nullptr, "Ct2Sampled"},
      {"ct side, same epoch", &ct2_sampled, 3, nullptr, "Ct2Sampled"},
      {"ct side, next epoch", &ct2_sampled, 4, nullptr, "KeysUnsampled"},
      {"ct side, two ahead", &ct2_sampled, 5, "epoch not in valid range: 5",
       nullptr},
      {"other state, older epoch", &no_header, 1, nullptr, "NoHeaderReceived"},
      {"other state, next epoch", &no_header, 4, "epoch not in valid range: 4",
       nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    V1State s = *c.state;
    Result<std::optional<EpochSecretOf>> r =
        ReceiveStep(s, Message{c.epoch, 1, MessageType::kNone, std::nullopt});
    if (c.error != nullptr) {
      ASSERT_FALSE(r.ok());
      ExpectError(r.error(), ErrorCode::kEpochOutOfRange, c.error);
      continue;
    }
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r->has_value());
    EXPECT_EQ(c.next, StateName(s));
    if (c.epoch == 4) {
      EXPECT_EQ(4u, EpochOf(s));
      // The authenticator carries over unchanged.
      EXPECT_TRUE(crypto::ct_equal(
          ByteView(std::get<KeysUnsampled>(s).auth.mac_key),
          ByteView(auth3.mac_key)));
    }
  }
}

TEST(ExchangeTest, HeaderWithAnotherAuthenticationKeyIsRejected) {
  Conversation c(3);
  Conversation other(4);  // A's header MAC is made with another key
  std::vector<Bytes> chunks;
  for (int i = 0; i < 4; i++) {
    chunks.push_back(other.Send(kA).message);
  }
  ASSERT_TRUE(c.Deliver(kB, chunks[0]).ok());
  ASSERT_TRUE(c.Deliver(kB, chunks[1]).ok());
  const SecretBytes before = c.state(kB);
  for (int last : {2, 3}) {
    Result<ReceiveResult> r = c.Deliver(kB, chunks[last]);
    ASSERT_FALSE(r.ok());
    ExpectError(r.error(), ErrorCode::kMacVerification,
                "MAC verification failed");
    EXPECT_EQ(before, c.state(kB));
    EXPECT_EQ("NoHeaderReceived", c.state_name(kB));
  }
}

// Runs the lossless exchange until `who` is in state `name`.
void RunUntil(Conversation& c, int who, std::string_view name) {
  for (int i = 0; i < 500 && c.state_name(who) != name; i++) {
    c.Exchange(i % 2);
  }
  ASSERT_EQ(name, c.state_name(who));
}

TEST(ExchangeTest, VectorThatDoesNotBelongToTheHeaderIsRejected) {
  Conversation c(5);
  RunUntil(c, kA, "KeysSampled");
  // Swap the vector A will send for another key's: the header B checks it
  // against stays the authentic one.
  PqRatchetStateRecord a = RecordOf(c.state(kA));
  crypto::SecretArray<64> seed;
  seed.bytes[0] = 1;
  kem::KeyPair other = kem::KeyGen(seed).value();
  auto vector = kem::VectorOf(other.ek);
  a.inner->ek.assign(vector.begin(), vector.end());
  c.state(kA) = Encode(a);

  for (int i = 0; i < 500; i++) {
    const int from = i % 2;
    Conversation::Sent s = c.Send(from);
    const SecretBytes before = c.state(1 - from);
    Result<ReceiveResult> r = c.Deliver(1 - from, s.message);
    if (!r.ok()) {
      ExpectError(r.error(), ErrorCode::kErroneousData,
                  "Erroneous data received from remote party");
      EXPECT_EQ(before, c.state(kB));
      const Message m = MessageOf(s.message);
      EXPECT_EQ(MessageType::kEkCt1Ack, m.type);
      // Fails exactly when the 36th distinct chunk completes the vector.
      EXPECT_EQ(35, m.chunk->index);
      return;
    }
  }
  FAIL() << "the vector was never rejected";
}

TEST(ExchangeTest, CiphertextWithAWrongMacIsRejected) {
  Conversation c(6);
  RunUntil(c, kB, "Ct1Sampled");
  // B's MAC will cover a ciphertext part 1 other than the one it sent.
  PqRatchetStateRecord b = RecordOf(c.state(kB));
  b.inner->ct1[0] ^= 1;
  c.state(kB) = Encode(b);
  for (int i = 0; i < 500; i++) {
    const int from = i % 2;
    Conversation::Sent s = c.Send(from);
    Result<ReceiveResult> r = c.Deliver(1 - from, s.message);
    if (!r.ok()) {
      ExpectError(r.error(), ErrorCode::kMacVerification,
                  "MAC verification failed");
      EXPECT_EQ(MessageType::kCt2, MessageOf(s.message).type);
      EXPECT_EQ("EkSentCt1Received", c.state_name(kA));
      return;
    }
  }
  FAIL() << "the ciphertext was never rejected";
}

TEST(RatchetTest, CreationParameters) {
  const crypto::Bytes key(32, 7);
  Result<SecretBytes> defaults = CreateState({key, 0});
  ASSERT_TRUE(defaults.ok());
  // version_negotiation {auth_key, chain_params {}}: direction 0 and minimum
  // version 0 are omitted, and so are the default limits.
  crypto::Bytes vn = {0x0a, 0x24, 0x0a, 0x20};
  vn.insert(vn.end(), key.begin(), key.end());
  vn.insert(vn.end(), {0x22, 0x00});
  ASSERT_GE(defaults->size(), vn.size());
  EXPECT_TRUE(std::equal(vn.begin(), vn.end(), defaults->begin()));
  EXPECT_EQ("KeysUnsampled", StateName(InnerOf(*defaults)));

  CreateParams self{key, 1};
  self.max_jump = UINT32_MAX;
  PqRatchetStateRecord r = RecordOf(CreateState(self).value());
  ASSERT_TRUE(r.version_negotiation && r.version_negotiation->chain_params);
  EXPECT_EQ(1u, r.version_negotiation->direction);
  EXPECT_EQ(UINT32_MAX, r.version_negotiation->chain_params->max_jump);
  EXPECT_EQ(2000u, r.version_negotiation->chain_params->max_ooo_keys);
  ASSERT_TRUE(r.inner.has_value());
  EXPECT_EQ("NoHeaderReceived", StateName(*FromRecord(*r.inner)));
  EXPECT_EQ(48u, r.inner->decoder->pts_needed);

  EXPECT_TRUE(CreateState({key, 0, 0}).value().empty());
  const struct {
    CreateParams params;
    const char* error;
  } kBad[] = {
      {{key, 0, 2}, "Invalid params: unsupported version 2"},
      {{key, 2}, "Invalid params: direction 2"},
      {{ByteView(key).first(31), 0}, "Invalid params: authentication key of 31 bytes"},
  };
  for (const auto& c : kBad) {
    Result<SecretBytes> bad = CreateState(c.params);
    ASSERT_FALSE(bad.ok());
    ExpectError(bad.error(), ErrorCode::kInvalidParams, c.error);
  }
}

TEST(RatchetTest, VersionNegotiation) {
  Conversation c(7);
  crypto::SeededRng rng(8);
  // A peer without the ratchet: an empty field, or a first byte 0, switches
  // the ratchet off for good while it is still negotiating.
  for (const Bytes& none : {Bytes{}, Bytes{0, 1, 2}}) {
    Result<ReceiveResult> off = Receive(c.state(kA), none);
    ASSERT_TRUE(off.ok());
    EXPECT_TRUE(off->state.empty());
    EXPECT_FALSE(off->key.has_value());
  }
  Result<SendResult> silent = Send(SecretBytes(), rng);
  ASSERT_TRUE(silent.ok());
  EXPECT_TRUE(silent->message.empty() && silent->state.empty());
  EXPECT_FALSE(silent->key.has_value());
  Conversation::Sent a1 = c.Send(kA);
  Result<ReceiveResult> ignored = Receive(SecretBytes(), a1.message);
  ASSERT_TRUE(ignored.ok());
  EXPECT_TRUE(ignored->state.empty());

  // A later protocol version: no key, state untouched.
  Bytes later = a1.message;
  later[0] = 2;
  Result<ReceiveResult> future = Receive(c.state(kB), later);
  ASSERT_TRUE(future.ok());
  EXPECT_EQ(c.state(kB), future->state);
  EXPECT_FALSE(future->key.has_value());

  // Once a version-1 message has arrived, its absence is an error.
  ASSERT_TRUE(c.Deliver(kB, a1.message).ok());
  Result<ReceiveResult> mismatch = Receive(c.state(kB), Bytes{});
  ASSERT_FALSE(mismatch.ok());
  ExpectError(mismatch.error(), ErrorCode::kVersionMismatch,
              "Version mismatch after negotiation");

  const Bytes key(32, 1);
  CreateParams strict{key, 0};
  strict.min_version = 1;
  const SecretBytes s = CreateState(strict).value();
  Result<ReceiveResult> minimum = Receive(s, Bytes{});
  ASSERT_FALSE(minimum.ok());
  ExpectError(minimum.error(), ErrorCode::kMinimumVersion, "Minimum version");
  // Insisting on the ratchet, the first message already has a key.
  Result<SendResult> first = Send(s, rng);
  ASSERT_TRUE(first.ok());
  EXPECT_TRUE(first->key.has_value());
  EXPECT_EQ(1u, MessageOf(first->message).index);
}

TEST(RatchetTest, BrokenStatesFailToDecode) {
  Conversation c(9);
  RunUntil(c, kB, "Ct1Sampled");
  const SecretBytes good = c.state(kB);
  ASSERT_TRUE(RecordOf(good).chain && RecordOf(good).inner);
  const struct {
    const char* name;
    void (*change)(PqRatchetStateRecord&);
  } kCases[] = {
      {"epoch 0", [](PqRatchetStateRecord& r) { r.inner->epoch = 0; }},
      {"no authenticator", [](PqRatchetStateRecord& r) { r.inner->auth.reset(); }},
      {"short MAC key",
       [](PqRatchetStateRecord& r) { r.inner->auth->mac_key.pop_back(); }},
      {"short encapsulation state",
       [](PqRatchetStateRecord& r) { r.inner->es.pop_back(); }},
      {"no header", [](PqRatchetStateRecord& r) { r.inner->hdr.clear(); }},
      {"long ciphertext",
       [](PqRatchetStateRecord& r) { r.inner->ct1.push_back(0); }},
      {"no encoder", [](PqRatchetStateRecord& r) { r.inner->encoder.reset(); }},
      {"decoder for another object",
       [](PqRatchetStateRecord& r) { r.inner->decoder->pts_needed = 480; }},
      {"no state in the one-of",
       [](PqRatchetStateRecord& r) { r.inner->state = 0; }},
      {"chain direction 2",
       [](PqRatchetStateRecord& r) { r.chain->direction = 2; }},
      {"chain without epochs",
       [](PqRatchetStateRecord& r) { r.chain->links.clear(); }},
      {"negotiation direction 2",
       [](PqRatchetStateRecord& r) {
         r.version_negotiation.emplace().direction = 2;
       }},
  };
  crypto::SeededRng rng(1);
  const Bytes message = c.Send(kA).message;
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.name);
    PqRatchetStateRecord r = RecordOf(good);
    k.change(r);
    const SecretBytes bad = Encode(r);
    Result<ReceiveResult> got = Receive(bad, message);
    ASSERT_FALSE(got.ok());
    ExpectError(got.error(), ErrorCode::kStateDecode, "state decode failed");
    EXPECT_FALSE(Send(bad, rng).ok());
  }
  for (const Bytes& junk : {Bytes{0xFF}, Bytes(good.begin(), good.end() - 1),
                            Bytes{0x1A, 0x02, 0x08}}) {
    EXPECT_EQ(ErrorCode::kStateDecode, Receive(junk, message).error().code);
  }
}

TEST(RatchetTest, UnknownFieldsAreSkippedAndDropped) {
  Conversation c(10);
  c.Exchange(kA);
  const SecretBytes plain = c.state(kB);
  // Field 9 (a varint) at the top level, and a second `chain` that only
  // sets `send_epoch` to 0 and so merges into the first without changing it.
  SecretBytes extended = plain;
  extended.insert(extended.end(), {0x48, 0x05, 0x12, 0x02, 0x28, 0x00});
  PqRatchetStateRecord record;
  ASSERT_TRUE(Decode(extended, &record));
  EXPECT_EQ(plain, Encode(record));
  Result<SendResult> from_extended = Send(extended, c.rng());
  ASSERT_TRUE(from_extended.ok());
  EXPECT_TRUE(from_extended->key.has_value());
}

}  // namespace
}  // namespace velmo::pq
