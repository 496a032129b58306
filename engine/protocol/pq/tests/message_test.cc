#include "protocol/pq/message.h"

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace velmo::pq {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(MessageTest, LayoutOfEachShape) {
  Message m;
  m.epoch = 300;
  m.index = 1;
  m.type = MessageType::kEk;
  Chunk& c = m.chunk.emplace();
  c.index = 65535;
  c.data.fill(0xAB);
  const Bytes data(32, 0xAB);
  EXPECT_EQ(Cat({{1, 0xAC, 0x02, 0x01, 0x02, 0xFF, 0xFF, 0x03}, data}),
            EncodeMessage(m));
  EXPECT_EQ(m, DecodeMessage(EncodeMessage(m)).value());

  Message ack{1, 0, MessageType::kCt1Ack, std::nullopt};
  EXPECT_EQ((Bytes{1, 1, 0, 4}), EncodeMessage(ack));
  EXPECT_EQ(ack, DecodeMessage(EncodeMessage(ack)).value());
}

TEST(MessageTest, DecodeFailures) {
  const Bytes data(32, 7);
  const struct {
    const char* name;
    Bytes in;
    bool ok;
  } kCases[] = {
      {"type 0", {1, 1, 0, 0}, true},
      {"type 4 with bytes after it", {1, 1, 0, 4, 9, 9}, true},
      {"type 6 with a chunk", Cat({{1, 2, 3, 6, 0}, data}), true},
      {"chunk with a byte after it", Cat({{1, 2, 3, 5, 0}, data, {0}}), true},
      {"largest index", {1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0}, true},
      {"index past 32 bits", {1, 1, 0x80, 0x80, 0x80, 0x80, 0x10, 0}, false},
      {"type 7", {1, 1, 0, 7}, false},
      {"type 255", {1, 1, 0, 255}, false},
      {"no type", {1, 1, 0}, false},
      {"epoch runs off the end", {1, 0x80}, false},
      {"varint of 11 bytes",
       {1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0},
       false},
      {"chunk type without a chunk", {1, 1, 0, 1}, false},
      {"chunk index 65536", Cat({{1, 1, 0, 1, 0x80, 0x80, 0x04}, data}), false},
      {"31 bytes of chunk data",
       Cat({{1, 1, 0, 3, 0}, Bytes(31, 1)}), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<Message> r = DecodeMessage(c.in);
    EXPECT_EQ(c.ok, r.ok());
    if (!r.ok()) {
      EXPECT_EQ(ErrorCode::kMessageDecode, r.error().code);
      EXPECT_EQ("message decode failed", r.error().message);
    }
  }
}

}  // namespace
}  // namespace velmo::pq
