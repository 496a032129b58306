#include "protocol/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Pattern;
using testing::ReadGolden;
using testing::Unhex;
using testing::Vec;

// Decoding the bytes protoc made and writing them again gives the same
// bytes: our writer agrees with an independent encoder field for field.
template <class M>
void ExpectRoundTrip(const std::string& golden, M* decoded) {
  SCOPED_TRACE(golden);
  std::vector<uint8_t> bytes = ReadGolden(golden);
  ASSERT_TRUE(Decode(bytes, decoded));
  EXPECT_EQ(bytes, Vec(Encode(*decoded)));
}

TEST(RecordsGolden, SessionRecord) {
  RecordStructure record;
  ExpectRoundTrip("session_record.bin", &record);

  ASSERT_TRUE(record.current_session.has_value());
  const SessionStructure& s = *record.current_session;
  EXPECT_EQ(4u, s.session_version);
  EXPECT_EQ(Pattern(0x10, 32, 5), Vec(s.local_identity_public));
  EXPECT_EQ(Pattern(0x50, 32), Vec(s.root_key));
  EXPECT_EQ(7u, s.previous_counter);
  ASSERT_TRUE(s.sender_chain && s.sender_chain->chain_key);
  EXPECT_EQ(3u, s.sender_chain->chain_key->index);
  EXPECT_EQ(Pattern(0x90, 32), Vec(s.sender_chain->sender_ratchet_key_private));
  ASSERT_EQ(2u, s.receiver_chains.size());
  const Chain& first = s.receiver_chains[0];
  EXPECT_EQ(300u, first.chain_key->index);
  ASSERT_EQ(2u, first.message_keys.size());
  EXPECT_EQ(299u, first.message_keys[0].index);
  EXPECT_EQ(Pattern(0x11, 32), Vec(first.message_keys[0].seed));
  const MessageKey& explicit_key = s.receiver_chains[1].message_keys.at(0);
  EXPECT_EQ(4294967295u, explicit_key.index);
  EXPECT_TRUE(explicit_key.seed.empty());
  EXPECT_EQ(Pattern(0xd1, 16), Vec(explicit_key.iv));
  // The second chain's key has index 0: its ChainKey has only field 2.
  EXPECT_EQ(0u, s.receiver_chains[1].chain_key->index);

  ASSERT_TRUE(s.pending_pre_key.has_value());
  ASSERT_TRUE(s.pending_pre_key->pre_key_id.has_value());
  EXPECT_EQ(0u, *s.pending_pre_key->pre_key_id);
  EXPECT_EQ(-1, s.pending_pre_key->signed_pre_key_id);
  EXPECT_EQ(1767225600u, s.pending_pre_key->timestamp);
  EXPECT_EQ(16380u, s.remote_registration_id);
  EXPECT_EQ(1u, s.local_registration_id);
  ASSERT_TRUE(s.pending_kyber_pre_key.has_value());
  EXPECT_EQ(9u, s.pending_kyber_pre_key->pre_key_id);
  EXPECT_EQ(Pattern(0x21, 200), Vec(s.pq_ratchet_state));

  // Archived entries stay bytes, including one that is not a state at all
  // and an empty one.
  ASSERT_EQ(3u, record.previous_sessions.size());
  EXPECT_EQ(Unhex("ff ff"), Vec(record.previous_sessions[1]));
  EXPECT_TRUE(record.previous_sessions[2].empty());
}

TEST(RecordsGolden, PresenceEdgeCases) {
  // pre_key_id 0 is written (08 00) and read back as present.
  std::vector<uint8_t> record = ReadGolden("session_record.bin");
  RecordStructure r;
  ASSERT_TRUE(Decode(record, &r));
  SecretBytes pending;
  {
    SessionStructure only_pending;
    only_pending.pending_pre_key = r.current_session->pending_pre_key;
    pending = Encode(only_pending);
  }
  // 4a <len> 08 00 12 21 <33 bytes> 18 ff..ff 01 20 <timestamp>
  ASSERT_GE(pending.size(), 4u);
  EXPECT_EQ(Unhex("08 00"), std::vector<uint8_t>(pending.begin() + 2,
                                                 pending.begin() + 4));
  // The -1 signed pre-key id takes the key 0x18 and ten bytes.
  std::vector<uint8_t> minus_one = Unhex("18 ff ff ff ff ff ff ff ff ff 01");
  EXPECT_NE(std::search(pending.begin(), pending.end(), minus_one.begin(),
                        minus_one.end()),
            pending.end());

  // Without field 1 the pending pre-key has no one-time pre-key at all.
  SessionStructure absent;
  ExpectRoundTrip("pending_absent.bin", &absent);
  ASSERT_TRUE(absent.pending_pre_key.has_value());
  EXPECT_FALSE(absent.pending_pre_key->pre_key_id.has_value());
  EXPECT_EQ(2147483647, absent.pending_pre_key->signed_pre_key_id);
}

TEST(RecordsGolden, PreKeyRecords) {
  PreKeyRecordStructure one_time;
  ExpectRoundTrip("pre_key_record.bin", &one_time);
  EXPECT_EQ(4294967295u, one_time.id);
  EXPECT_EQ(Pattern(0x02, 32, 5), Vec(one_time.public_key));

  SignedPreKeyRecordStructure signed_key;
  ExpectRoundTrip("signed_pre_key_record.bin", &signed_key);
  EXPECT_EQ(7u, signed_key.id);
  EXPECT_EQ(Pattern(0x82, 64), Vec(signed_key.signature));
  EXPECT_EQ(1767225600123u, signed_key.timestamp);
  // The timestamp is the key byte 0x29 and eight little-endian bytes.
  std::vector<uint8_t> bytes = ReadGolden("signed_pre_key_record.bin");
  EXPECT_EQ(Unhex("29 7b a8 da 76 9b 01 00 00"),
            std::vector<uint8_t>(bytes.end() - 9, bytes.end()));

  SignedPreKeyRecordStructure no_timestamp;
  ExpectRoundTrip("signed_pre_key_record_no_timestamp.bin", &no_timestamp);
  EXPECT_EQ(0u, no_timestamp.timestamp);
  // Same record but for the nine timestamp bytes (both ids take one byte).
  EXPECT_EQ(bytes.size() - 9,
            ReadGolden("signed_pre_key_record_no_timestamp.bin").size());

  IdentityKeyPairStructure pair;
  ExpectRoundTrip("identity_key_pair.bin", &pair);
  EXPECT_EQ(Pattern(0x33, 32), Vec(pair.private_key));
}

TEST(Records, FreshRecordIsZeroBytes) {
  RecordStructure fresh;
  EXPECT_TRUE(Encode(fresh).empty());
  RecordStructure read;
  ASSERT_TRUE(Decode(ByteView(), &read));
  EXPECT_FALSE(read.current_session.has_value());
  EXPECT_TRUE(read.previous_sessions.empty());
}

TEST(Records, ArchivedStatesAreSharedNotCopied) {
  std::vector<uint8_t> golden = ReadGolden("session_record.bin");
  auto in = std::make_shared<const SecretBytes>(golden.begin(), golden.end());
  RecordStructure record;
  ASSERT_TRUE(Decode(in, &record));
  ASSERT_EQ(3u, record.previous_sessions.size());
  // Each archived state views the buffer handed over...
  for (const SharedBytes& archived : record.previous_sessions) {
    EXPECT_GE(archived.data(), in->data());
    EXPECT_LE(archived.data() + archived.size(), in->data() + in->size());
  }
  // ...which outlives the caller's reference, and copies share it.
  const uint8_t* first = record.previous_sessions[0].data();
  in.reset();
  RecordStructure copy = record;
  EXPECT_EQ(first, copy.previous_sessions[0].data());
  EXPECT_EQ(golden, Vec(Encode(copy)));

  // Read from a view, a record keeps one copy of the input for them.
  RecordStructure from_view;
  ASSERT_TRUE(Decode(golden, &from_view));
  EXPECT_EQ(from_view.previous_sessions[1].data() - from_view.previous_sessions[0].data(),
            record.previous_sessions[1].data() - record.previous_sessions[0].data());
  golden.assign(golden.size(), 0);  // the caller's bytes may go
  EXPECT_EQ(Unhex("ff ff"), Vec(from_view.previous_sessions[1]));
}

TEST(Records, UnknownFieldsAreNotWrittenBack) {
  // id 3, an unknown varint, an unknown group, an unknown fixed32, then the
  // public key: written back as id and public key only.
  PreKeyRecordStructure record;
  ASSERT_TRUE(Decode(Unhex("08 03 48 01 4b 08 01 4c 55 01 02 03 04 12 01 aa"),
                     &record));
  EXPECT_EQ(Unhex("08 03 12 01 aa"), Vec(Encode(record)));
}

TEST(Records, ReadFailuresCarryTheirTexts) {
  std::vector<uint8_t> bad = Unhex("00");
  Result<RecordStructure> session = ReadSessionRecord(bad);
  ASSERT_FALSE(session.ok());
  EXPECT_EQ(ErrorCode::kInvalidSessionStructure, session.error().code);
  EXPECT_EQ("invalid session: failed to decode session record protobuf",
            session.error().message);

  Result<SessionStructure> archived = ReadArchivedSession(bad);
  ASSERT_FALSE(archived.ok());
  EXPECT_EQ("invalid session: failed to decode previous session protobuf",
            archived.error().message);

  Result<PreKeyRecordStructure> one_time = ReadPreKeyRecord(bad);
  ASSERT_FALSE(one_time.ok());
  EXPECT_EQ("protobuf encoding was invalid", one_time.error().message);
  Result<SignedPreKeyRecordStructure> signed_key = ReadSignedPreKeyRecord(bad);
  ASSERT_FALSE(signed_key.ok());
  EXPECT_EQ("protobuf encoding was invalid", signed_key.error().message);
}

TEST(Records, FailedDecodeLeavesTheOutputAlone) {
  PreKeyRecordStructure record;
  record.id = 42;
  // A valid id followed by a malformed field.
  EXPECT_FALSE(Decode(Unhex("08 07 00"), &record));
  EXPECT_EQ(42u, record.id);
}

}  // namespace
}  // namespace velmo::proto
