#include "protocol/protobuf.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/records.h"
#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Unhex;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

// The strict form rules, checked through the one-time pre-key record
// (1: uint32 id, 2: bytes public_key, 3: bytes private_key).
TEST(ProtobufReader, FormRules) {
  const struct {
    const char* name;
    std::string hex;
    bool ok;
  } kCases[] = {
      {"empty message", "", true},
      {"field number 0", "00 01", false},
      {"known field, wire type 6", "0e", false},
      {"known field, wire type 7", "0f", false},
      {"unknown field, wire type 6", "2e 00", false},
      {"unknown field, wire type 7", "2f 00", false},
      {"known varint field as bytes", "0a 00", false},
      {"known bytes field as varint", "10 01", false},
      {"known varint field as fixed32", "0d 00 00 00 00", false},
      {"known bytes field as fixed64", "11 00 00 00 00 00 00 00 00", false},
      {"ten-byte varint", "08 ff ff ff ff ff ff ff ff ff 01", true},
      {"eleven-byte varint", "08 ff ff ff ff ff ff ff ff ff 80 01", false},
      {"varint cut off", "08 80", false},
      {"key cut off", "80", false},
      {"key beyond 32 bits", "80 80 80 80 80 01", false},
      {"length past the end", "12 05 01 02 03 04", false},
      {"length exactly to the end", "12 02 01 02", true},
      {"length of ten bytes past the end", "12 ff ff ff ff ff ff ff ff ff 01",
       false},
      {"unknown varint", "20 96 01", true},
      {"unknown fixed64", "21 01 02 03 04 05 06 07 08", true},
      {"unknown fixed64 cut off", "21 01 02 03 04 05 06 07", false},
      {"unknown bytes", "22 02 aa bb", true},
      {"unknown fixed32", "25 01 02 03 04", true},
      {"unknown fixed32 cut off", "25 01 02 03", false},
      {"unknown group", "23 08 01 12 01 aa 24", true},
      {"nested groups", "23 2b 08 01 2c 24", true},
      {"group ended by another field's end", "23 2c", false},
      {"group never ended", "23 08 01", false},
      {"stray end-group key", "24", false},
      {"known field as a group", "0b 0c", false},
      {"group with a bad inner wire type", "23 0f 24", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    PreKeyRecordStructure record;
    EXPECT_EQ(c.ok, Decode(Unhex(c.hex), &record));
  }
}

TEST(ProtobufReader, NestingLimitIsOneHundredLevels) {
  // Unknown groups nested inside each other, in a record at depth 0.
  auto nested = [](int levels) {
    return Repeat("23", levels) + Repeat("24", levels);
  };
  PreKeyRecordStructure record;
  EXPECT_TRUE(Decode(Unhex(nested(100)), &record));
  EXPECT_FALSE(Decode(Unhex(nested(101)), &record));
  // The same budget covers embedded messages: the ChainKey of a record's
  // current sending chain already sits three levels down.
  auto record_with_groups = [](int levels) {
    std::vector<uint8_t> chain_key =
        Unhex(Repeat("1b", levels) + Repeat("1c", levels));
    // key byte, length as a varint, body
    auto frame = [](uint8_t key, const std::vector<uint8_t>& body) {
      std::vector<uint8_t> out(body.size() + 3);
      size_t n = 0;
      out[n++] = key;
      for (size_t len = body.size(); ; len >>= 7) {
        out[n++] = static_cast<uint8_t>((len & 0x7f) | (len >= 0x80 ? 0x80 : 0));
        if (len < 0x80) break;
      }
      std::copy(body.begin(), body.end(), out.begin() + n);
      out.resize(n + body.size());
      return out;
    };
    std::vector<uint8_t> chain = frame(0x1a, chain_key);  // ChainKey (3)
    std::vector<uint8_t> session = frame(0x32, chain);    // sender_chain (6)
    return frame(0x0a, session);                          // current_session (1)
  };
  RecordStructure session_record;
  EXPECT_TRUE(Decode(record_with_groups(97), &session_record));
  EXPECT_FALSE(Decode(record_with_groups(98), &session_record));
}

TEST(ProtobufReader, LastScalarWinsAndEmbeddedMessagesMerge) {
  PreKeyRecordStructure record;
  ASSERT_TRUE(Decode(Unhex("08 01 12 01 aa 08 02 12 01 bb"), &record));
  EXPECT_EQ(2u, record.id);
  EXPECT_EQ(std::vector<uint8_t>{0xbb}, testing::Vec(record.public_key));

  // sender_chain (6) twice: the first gives the ratchet key, the second the
  // chain key; receiver_chains (7) twice append.
  SessionStructure state;
  ASSERT_TRUE(Decode(Unhex("32 03 0a 01 aa"
                           "32 04 1a 02 08 05"
                           "3a 00 3a 00"),
                     &state));
  ASSERT_TRUE(state.sender_chain.has_value());
  EXPECT_EQ(std::vector<uint8_t>{0xaa},
            testing::Vec(state.sender_chain->sender_ratchet_key));
  ASSERT_TRUE(state.sender_chain->chain_key.has_value());
  EXPECT_EQ(5u, state.sender_chain->chain_key->index);
  EXPECT_EQ(2u, state.receiver_chains.size());
}

TEST(ProtobufReader, IntegerWidths) {
  // uint32 keeps the low 32 bits of a wider varint.
  PreKeyRecordStructure record;
  ASSERT_TRUE(Decode(Unhex("08 85 80 80 80 10"), &record));  // 2^32 + 5
  EXPECT_EQ(5u, record.id);

  // int32 reads the ten-byte sign-extended form and the five-byte form alike.
  for (const char* hex : {"4a 0b 18 ff ff ff ff ff ff ff ff ff 01",
                          "4a 06 18 ff ff ff ff 0f"}) {
    SCOPED_TRACE(hex);
    SessionStructure state;
    ASSERT_TRUE(Decode(Unhex(hex), &state));
    ASSERT_TRUE(state.pending_pre_key.has_value());
    EXPECT_EQ(-1, state.pending_pre_key->signed_pre_key_id);
  }
}

TEST(ProtobufWriter, VarintsAndPresence) {
  SecretBytes out;
  out.reserve(512);
  pb::Writer w(&out);
  w.Uint32(1, 0);            // omitted
  w.Uint32Present(2, 0);     // 10 00
  w.Int32(3, -1);            // 18 + ten bytes
  w.Uint64(4, 300);          // 20 ac 02
  w.Fixed64(5, 0);           // omitted
  w.Bytes(6, {});            // omitted
  w.BytesPresent(7, {});     // 3a 00
  size_t at = w.BeginMessage(8);
  w.EndMessage(at);          // 42 00
  EXPECT_EQ(Unhex("10 00 18 ff ff ff ff ff ff ff ff ff 01 20 ac 02 3a 00 42 00"),
            testing::Vec(out));
}

TEST(ProtobufWriter, LongEmbeddedMessageGetsMultiByteLength) {
  SecretBytes out;
  out.reserve(512);
  pb::Writer w(&out);
  size_t at = w.BeginMessage(1);
  std::vector<uint8_t> body(300, 0xab);
  w.BytesPresent(2, body);
  w.EndMessage(at);
  // 0a, length 303 (af 02), then 12 ac 02 and the 300 bytes.
  ASSERT_EQ(1u + 2u + 3u + 300u, out.size());
  EXPECT_EQ(Unhex("0a af 02 12 ac 02 ab"),
            std::vector<uint8_t>(out.begin(), out.begin() + 7));
}

}  // namespace
}  // namespace velmo::proto
