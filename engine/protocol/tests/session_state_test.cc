#include "protocol/session_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "protocol/log.h"
#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Pattern;
using testing::Vec;

PublicKey KeyOf(uint8_t start) {
  return DecodePublicKey(Pattern(start, 32, 5)).value();
}

KeyPair RatchetPair() {
  std::vector<uint8_t> scalar = Pattern(0x70, 32);
  return KeyPair(PrivateKey(std::span<const uint8_t, 32>(scalar.data(), 32)));
}

ChainKeyValue ChainKeyOf(uint8_t fill, uint32_t index) {
  ChainKeyValue v;
  std::fill(v.key.data(), v.key.data() + 32, fill);
  v.index = index;
  return v;
}

// A complete, usable state: every read below succeeds on it.
SessionStructure UsableState() {
  SessionStructure s;
  s.session_version = 4;
  s.local_identity_public.assign(Pattern(0x10, 32, 5));
  s.remote_identity_public.assign(Pattern(0x30, 32, 5));
  s.root_key.assign(Pattern(0x50, 32));
  SetSenderChain(s, RatchetPair(), ChainKeyOf(0xbb, 3));
  AddReceiverChain(s, KeyOf(0xd0), ChainKeyOf(0xcc, 0));
  s.pending_pre_key.emplace().base_key.assign(Pattern(0xe0, 32, 5));
  return s;
}

TEST(SessionState, UsableStateReadsBack) {
  SessionStructure s = UsableState();
  EXPECT_EQ(4u, SessionVersion(s));
  EXPECT_TRUE(LocalIdentityKey(s).ok());
  ASSERT_TRUE(RemoteIdentityKey(s).ok());
  EXPECT_TRUE(RemoteIdentityKey(s)->has_value());
  Result<ChainKeyValue> sending = SenderChainKey(s);
  ASSERT_TRUE(sending.ok());
  EXPECT_EQ(3u, sending->index);
  EXPECT_EQ(RatchetPair().public_key, *SenderRatchetKey(s));
  EXPECT_TRUE(SenderRatchetPrivateKey(s).ok());
  Result<Chain*> chain = FindReceiverChain(s, KeyOf(0xd0));
  ASSERT_TRUE(chain.ok());
  ASSERT_NE(nullptr, *chain);
  EXPECT_TRUE(ReceiverChainKey(**chain).ok());
  EXPECT_EQ(nullptr, *FindReceiverChain(s, KeyOf(0x01)));
  ASSERT_TRUE(PendingPreKeyBaseKey(s).ok());
  EXPECT_TRUE(PendingPreKeyBaseKey(s)->has_value());

  // The state survives its own encoding.
  SessionStructure again;
  ASSERT_TRUE(Decode(Encode(s), &again));
  EXPECT_EQ(Vec(Encode(s)), Vec(Encode(again)));
}

TEST(SessionState, VersionZeroReadsAsTwo) {
  SessionStructure s;
  EXPECT_EQ(2u, SessionVersion(s));
}

TEST(SessionState, FieldReadFailures) {
  using Mutation = std::function<void(SessionStructure&)>;
  using Read = std::function<Status(SessionStructure&)>;
  auto status = [](const auto& result) {
    return result.ok() ? Status::Ok() : Status(result.error());
  };
  Read local = [&](SessionStructure& s) { return status(LocalIdentityKey(s)); };
  Read remote = [&](SessionStructure& s) { return status(RemoteIdentityKey(s)); };
  Read sender_key = [&](SessionStructure& s) { return status(SenderChainKey(s)); };
  Read sender_private = [&](SessionStructure& s) {
    return status(SenderRatchetPrivateKey(s));
  };
  Read sender_public = [&](SessionStructure& s) { return status(SenderRatchetKey(s)); };
  Read find = [&](SessionStructure& s) {
    return status(FindReceiverChain(s, KeyOf(0x01)));
  };
  Read receiver_key = [&](SessionStructure& s) {
    return status(ReceiverChainKey(s.receiver_chains.at(0)));
  };
  Read pending = [&](SessionStructure& s) { return status(PendingPreKeyBaseKey(s)); };

  const struct {
    const char* name;
    Mutation mutate;
    Read read;
    const char* text;
  } kCases[] = {
      {"no own identity key", [](auto& s) { s.local_identity_public.clear(); },
       local, "invalid local identity key"},
      {"own identity key of 32 bytes",
       [](auto& s) { s.local_identity_public.assign(Pattern(0x10, 31, 5)); },
       local, "invalid local identity key"},
      {"peer identity key with type 0x06",
       [](auto& s) { s.remote_identity_public.assign(Pattern(0, 32, 6)); },
       remote, "invalid remote identity key"},
      {"no sending chain", [](auto& s) { s.sender_chain.reset(); }, sender_key,
       "missing sender chain"},
      {"no sending chain key", [](auto& s) { s.sender_chain->chain_key.reset(); },
       sender_key, "missing sender chain key"},
      {"sending chain key of 31 bytes",
       [](auto& s) { s.sender_chain->chain_key->key.assign(Pattern(0, 31)); },
       sender_key, "invalid sender chain key"},
      {"private ratchet key of 33 bytes",
       [](auto& s) { s.sender_chain->sender_ratchet_key_private.assign(Pattern(0, 33)); },
       sender_private, "invalid sender chain private ratchet key"},
      {"no sending chain, private key", [](auto& s) { s.sender_chain.reset(); },
       sender_private, "missing sender chain"},
      {"ratchet public key empty",
       [](auto& s) { s.sender_chain->sender_ratchet_key.clear(); },
       sender_public, "invalid sender chain ratchet key"},
      {"receiving chain key unreadable",
       [](auto& s) { s.receiver_chains[0].sender_ratchet_key.assign(Pattern(0, 5)); },
       find, "invalid receiver chain ratchet key"},
      {"no receiving chain key",
       [](auto& s) { s.receiver_chains[0].chain_key.reset(); }, receiver_key,
       "missing receiver chain key"},
      {"receiving chain key of 33 bytes",
       [](auto& s) { s.receiver_chains[0].chain_key->key.assign(Pattern(0, 33)); },
       receiver_key, "invalid receiver chain key"},
      {"pending base key empty",
       [](auto& s) { s.pending_pre_key->base_key.clear(); }, pending,
       "invalid pending PreKey message base key"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SessionStructure s = UsableState();
    ASSERT_TRUE(c.read(s).ok());
    c.mutate(s);
    Status got = c.read(s);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(ErrorCode::kInvalidSessionStructure, got.error().code);
    EXPECT_EQ(std::string("invalid session: ") + c.text, got.error().message);
  }

  // No peer identity key is "none", not a failure.
  SessionStructure s = UsableState();
  s.remote_identity_public.clear();
  ASSERT_TRUE(RemoteIdentityKey(s).ok());
  EXPECT_FALSE(RemoteIdentityKey(s)->has_value());
}

// Marks a state so that it can be recognised after archiving.
SessionStructure Numbered(uint32_t n) {
  SessionStructure s;
  s.session_version = 3;
  s.remote_registration_id = n;
  return s;
}

uint32_t ArchivedNumber(const RecordStructure& r, size_t i) {
  Result<SessionStructure> s = ArchivedState(r, i);
  EXPECT_TRUE(s.ok());
  return s.ok() ? s->remote_registration_id : 0;
}

TEST(SessionState, FortyFirstArchivePushesOutTheOldest) {
  RecordStructure record;
  ArchiveCurrentState(record, Numbered(0));
  EXPECT_TRUE(record.previous_sessions.empty());
  for (uint32_t n = 1; n <= 40; n++) ArchiveCurrentState(record, Numbered(n));
  ASSERT_EQ(40u, record.previous_sessions.size());
  EXPECT_EQ(39u, ArchivedNumber(record, 0));  // most recent first
  EXPECT_EQ(0u, ArchivedNumber(record, 39));

  ArchiveCurrentState(record, Numbered(41));
  ASSERT_EQ(40u, record.previous_sessions.size());
  EXPECT_EQ(41u, record.current_session->remote_registration_id);
  EXPECT_EQ(40u, ArchivedNumber(record, 0));
  EXPECT_EQ(1u, ArchivedNumber(record, 39));  // 0 is gone
}

TEST(SessionState, ArchivedStatesLoseTheirPendingParts) {
  RecordStructure record;
  SessionStructure unanswered = UsableState();
  unanswered.pending_kyber_pre_key.emplace().pre_key_id = 3;
  ArchiveCurrentState(record, unanswered);
  ArchiveCurrentState(record, Numbered(2));
  Result<SessionStructure> archived = ArchivedState(record, 0);
  ASSERT_TRUE(archived.ok());
  EXPECT_FALSE(archived->pending_pre_key.has_value());
  EXPECT_FALSE(archived->pending_kyber_pre_key.has_value());
  EXPECT_TRUE(archived->sender_chain.has_value());
}

TEST(SessionState, PromotingMakesRoomBeforeArchiving) {
  RecordStructure record;
  for (uint32_t n = 0; n <= 40; n++) ArchiveCurrentState(record, Numbered(n));
  // Archived: 39, 38, ..., 0; current 40. Promote the third archived (37).
  Result<SessionStructure> third = ArchivedState(record, 2);
  ASSERT_TRUE(third.ok());
  EXPECT_EQ(37u, third->remote_registration_id);
  PromoteArchivedState(record, 2, std::move(*third));
  EXPECT_EQ(37u, record.current_session->remote_registration_id);
  ASSERT_EQ(40u, record.previous_sessions.size());
  EXPECT_EQ(40u, ArchivedNumber(record, 0));
  EXPECT_EQ(39u, ArchivedNumber(record, 1));
  EXPECT_EQ(38u, ArchivedNumber(record, 2));
  EXPECT_EQ(36u, ArchivedNumber(record, 3));
  EXPECT_EQ(0u, ArchivedNumber(record, 39));  // nothing was dropped
}

TEST(SessionState, UndecodableArchivedEntry) {
  RecordStructure record;
  record.previous_sessions.emplace_back(SecretBytes{0xff, 0xff});
  Result<SessionStructure> s = ArchivedState(record, 0);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ("invalid session: failed to decode previous session protobuf",
            s.error().message);
}

std::vector<std::string> g_lines;
void CollectLines(log::Level, std::string_view line) {
  g_lines.emplace_back(line);
}

TEST(SessionState, SixthReceivingChainPushesOutTheFirst) {
  SessionStructure s = UsableState();  // one chain, key 0xd0...
  for (uint8_t k = 1; k <= 4; k++) AddReceiverChain(s, KeyOf(k), ChainKeyOf(k, 0));
  ASSERT_EQ(5u, s.receiver_chains.size());

  g_lines.clear();
  log::SetSink(CollectLines, log::Level::kDebug);
  AddReceiverChain(s, KeyOf(0x60), ChainKeyOf(6, 9));
  log::SetSink(nullptr, log::Level::kDebug);

  ASSERT_EQ(5u, s.receiver_chains.size());
  EXPECT_EQ(nullptr, *FindReceiverChain(s, KeyOf(0xd0)));
  Result<Chain*> newest = FindReceiverChain(s, KeyOf(0x60));
  ASSERT_NE(nullptr, *newest);
  EXPECT_EQ(&s.receiver_chains.back(), *newest);
  EXPECT_EQ(9u, ReceiverChainKey(**newest)->index);
  ASSERT_EQ(1u, g_lines.size());
  std::string ratchet_hex = Hex(SenderRatchetKey(s)->Encode().data(), 33);
  EXPECT_EQ("Trimming excessive receiver_chain for session with base key " +
                ratchet_hex + ", chain count: 6",
            g_lines[0]);
}

TEST(SessionState, TwoThousandFirstMessageKeyPushesOutTheOldest) {
  Chain chain;
  for (uint32_t i = 0; i < 2000; i++) KeepMessageKey(chain, i, Pattern(i, 32));
  ASSERT_EQ(2000u, chain.message_keys.size());
  EXPECT_EQ(1999u, chain.message_keys.front().index);  // newest first
  EXPECT_EQ(0u, chain.message_keys.back().index);

  KeepMessageKey(chain, 2000, Pattern(7, 32));
  ASSERT_EQ(2000u, chain.message_keys.size());
  EXPECT_EQ(2000u, chain.message_keys.front().index);
  EXPECT_EQ(1u, chain.message_keys.back().index);
  Result<std::optional<KeptMessageKey>> gone = TakeMessageKey(chain, 0);
  ASSERT_TRUE(gone.ok());
  EXPECT_FALSE(gone->has_value());
}

TEST(SessionState, KeepingManyAtOnceEqualsKeepingOneByOne) {
  for (size_t skipped : {0, 5, 1950, 2500}) {
    SCOPED_TRACE(skipped);
    Chain one_by_one;
    for (uint32_t i = 0; i < 100; i++) {
      KeepMessageKey(one_by_one, i, Pattern(i, 32));
    }
    Chain batched = one_by_one;
    std::vector<MessageKey> batch;
    for (uint32_t i = 100; i < 100 + skipped; i++) {
      KeepMessageKey(one_by_one, i, Pattern(i, 32));
      batch.emplace_back().index = i;
      batch.back().seed.assign(Pattern(i, 32));
    }
    KeepMessageKeys(batched, std::move(batch));
    ASSERT_EQ(one_by_one.message_keys.size(), batched.message_keys.size());
    for (size_t k = 0; k < batched.message_keys.size(); k++) {
      ASSERT_EQ(one_by_one.message_keys[k].index, batched.message_keys[k].index);
      ASSERT_EQ(one_by_one.message_keys[k].seed, batched.message_keys[k].seed);
    }
  }
}

TEST(SessionState, TakingAKeptKeyRemovesIt) {
  Chain chain;
  KeepMessageKey(chain, 3, Pattern(3, 32));
  KeepMessageKey(chain, 4, Pattern(4, 32));
  Result<std::optional<KeptMessageKey>> taken = TakeMessageKey(chain, 3);
  ASSERT_TRUE(taken.ok() && taken->has_value());
  EXPECT_EQ(Pattern(3, 32), Vec(std::get<KeyBytes>(**taken)));
  EXPECT_EQ(1u, chain.message_keys.size());
  EXPECT_FALSE(TakeMessageKey(chain, 3)->has_value());
}

TEST(SessionState, ExplicitKeyEntries) {
  auto entry = [](size_t cipher, size_t mac, size_t iv, size_t seed) {
    MessageKey k;
    k.index = 8;
    k.cipher_key.assign(cipher, 1);
    k.mac_key.assign(mac, 2);
    k.iv.assign(iv, 3);
    if (seed != 0) k.seed.assign(Pattern(9, seed));
    return k;
  };
  const struct {
    const char* name;
    MessageKey key;
    const char* error;  // nullptr: readable
  } kCases[] = {
      {"explicit keys", entry(32, 32, 16, 0), nullptr},
      {"seed and explicit keys is a seed entry", entry(1, 1, 1, 32), nullptr},
      {"cipher key of 31 bytes", entry(31, 32, 16, 0), "invalid message cipher key"},
      {"MAC key of 33 bytes", entry(32, 33, 16, 0), "invalid message MAC key"},
      {"IV of 15 bytes", entry(32, 32, 15, 0), "invalid message IV"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Chain chain;
    chain.message_keys.push_back(c.key);
    Result<std::optional<KeptMessageKey>> taken = TakeMessageKey(chain, 8);
    EXPECT_TRUE(chain.message_keys.empty());  // removed whatever happens
    if (c.error == nullptr) {
      ASSERT_TRUE(taken.ok());
      EXPECT_TRUE(taken->has_value());
      EXPECT_EQ(c.key.seed.empty(),
                std::holds_alternative<ExplicitMessageKeys>(**taken));
    } else {
      ASSERT_FALSE(taken.ok());
      EXPECT_EQ(std::string("invalid session: ") + c.error,
                taken.error().message);
    }
  }
}

TEST(SessionState, UsableForSending) {
  const uint64_t kSetUp = 1767225600;
  const uint64_t kThirtyDays = 2592000;
  SessionStructure s = UsableState();
  s.pending_pre_key->timestamp = kSetUp;
  EXPECT_TRUE(IsUsableForSending(s, kSetUp + kThirtyDays));
  EXPECT_FALSE(IsUsableForSending(s, kSetUp + kThirtyDays + 1));
  EXPECT_TRUE(IsUsableForSending(s, 0));  // clock before the set-up
  ClearPendingPreKey(s);
  EXPECT_TRUE(IsUsableForSending(s, kSetUp + 10 * kThirtyDays));
  s.sender_chain.reset();
  EXPECT_FALSE(IsUsableForSending(s, kSetUp));
}

}  // namespace
}  // namespace velmo::proto
