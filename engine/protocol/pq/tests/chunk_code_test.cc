#include "protocol/pq/chunk_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "protocol/pq/gf16.h"

namespace velmo::pq {
namespace {

Bytes Pattern(size_t len, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(len);
  for (auto& b : out) {
    b = static_cast<uint8_t>(gen());
  }
  return out;
}

std::vector<Chunk> Chunks(ByteView object, size_t count) {
  ChunkEncoder e(object);
  std::vector<Chunk> out;
  for (size_t i = 0; i < count; i++) {
    out.push_back(e.NextChunk());
  }
  return out;
}

TEST(Gf16Test, TablesAgreeWithTheCarrylessProduct) {
  std::mt19937 gen(7);
  for (int i = 0; i < 100000; i++) {
    const auto a = static_cast<uint16_t>(gen());
    const auto b = static_cast<uint16_t>(gen());
    ASSERT_EQ(gf16::MulSlow(a, b), gf16::Mul(a, b)) << a << " * " << b;
  }
  for (uint32_t a = 1; a < 65536; a++) {
    ASSERT_EQ(1, gf16::Mul(static_cast<uint16_t>(a),
                           gf16::Inv(static_cast<uint16_t>(a))))
        << a;
  }
  // x^16 reduces to x^12 + x^3 + x + 1.
  EXPECT_EQ(0x100B, gf16::Mul(0x8000, 2));
}

TEST(ChunkCodeTest, RedundancyChunksOfTheExampleObject) {
  Bytes object(96, 0);
  object[0] = object[1] = 0xFF;
  std::vector<Chunk> chunks = Chunks(object, 5);

  std::array<uint8_t, 32> want{};
  want[0] = want[1] = 0xFF;
  EXPECT_EQ(3, chunks[3].index);
  EXPECT_EQ(want, chunks[3].data);
  want[0] = 0x50;
  want[1] = 0x22;
  EXPECT_EQ(4, chunks[4].index);
  EXPECT_EQ(want, chunks[4].data);
}

TEST(ChunkCodeTest, SystematicChunksAreTheObjectBytes) {
  const Bytes object = Pattern(1152, 1);
  std::vector<Chunk> chunks = Chunks(object, 36);
  for (size_t k = 0; k < chunks.size(); k++) {
    ASSERT_EQ(k, chunks[k].index);
    ASSERT_TRUE(std::equal(chunks[k].data.begin(), chunks[k].data.end(),
                           object.begin() + 32 * k));
  }
}

TEST(ChunkCodeTest, AnyThreeDistinctChunksRebuildAHeaderObject) {
  const Bytes object = Pattern(96, 2);
  // Chunks 0..9 and a far one; every 3-subset of them must rebuild it.
  std::vector<Chunk> chunks = Chunks(object, 10);
  ChunkEncoder far(object);
  Chunk last;
  for (int i = 0; i <= 65535; i++) {
    last = far.NextChunk();
  }
  ASSERT_EQ(65535, last.index);
  chunks.push_back(last);
  // Past the last index the encoder starts over at chunk 0.
  EXPECT_EQ(chunks[0], far.NextChunk());

  for (size_t a = 0; a < chunks.size(); a++) {
    for (size_t b = a + 1; b < chunks.size(); b++) {
      for (size_t c = b + 1; c < chunks.size(); c++) {
        SCOPED_TRACE(::testing::Message() << a << "," << b << "," << c);
        ChunkDecoder d(48);
        d.Add(chunks[c]);
        EXPECT_FALSE(d.Complete());
        d.Add(chunks[a]);
        d.Add(chunks[a]);  // a repeat changes nothing
        EXPECT_FALSE(d.Complete());
        EXPECT_EQ(std::nullopt, d.Decoded());
        d.Add(chunks[b]);
        ASSERT_TRUE(d.Complete());
        EXPECT_EQ(object, d.Decoded());
      }
    }
  }
}

TEST(ChunkCodeTest, DecodersCompleteFromSurplusPointsInAnyOrder) {
  std::mt19937 gen(3);
  for (size_t len : {96, 160, 960, 1152}) {
    SCOPED_TRACE(len);
    const Bytes object = Pattern(len, static_cast<uint32_t>(len));
    const size_t needed = len / 32;
    std::vector<Chunk> pool = Chunks(object, 3 * needed);
    for (int round = 0; round < 5; round++) {
      std::shuffle(pool.begin(), pool.end(), gen);
      ChunkDecoder d(len / 2);
      size_t fed = 0;
      while (!d.Complete()) {
        d.Add(pool[fed++]);
      }
      EXPECT_EQ(needed, fed);
      EXPECT_EQ(object, d.Decoded());
      // Points from before completion survive a trip through the record.
      std::vector<Bytes> lanes = d.LaneBytes();
      std::vector<ByteView> views(lanes.begin(), lanes.end());
      auto back = ChunkDecoder::FromRecord(len / 2, 16, views, len / 2);
      ASSERT_TRUE(back.has_value());
      EXPECT_EQ(object, back->Decoded());
    }
  }
}

TEST(ChunkCodeTest, FullLaneIgnoresRedundancyButTakesItsOwnValues) {
  const Bytes object = Pattern(96, 4);
  std::vector<Chunk> chunks = Chunks(object, 6);
  ChunkDecoder d(48);
  d.Add(chunks[0]);
  d.Add(chunks[4]);
  d.Add(chunks[5]);
  ASSERT_TRUE(d.Complete());
  d.Add(chunks[3]);  // redundancy for full lanes: ignored
  EXPECT_EQ(12u, d.LaneBytes()[0].size());
  d.Add(chunks[1]);  // a systematic value is still taken in
  EXPECT_EQ(16u, d.LaneBytes()[0].size());
  EXPECT_EQ(object, d.Decoded());
}

TEST(ChunkCodeTest, EncoderSurvivesItsRecordBeforeAndAfterRedundancy) {
  const Bytes object = Pattern(160, 5);
  std::vector<Chunk> want = Chunks(object, 9);
  ChunkEncoder e(object);
  for (size_t k = 0; k < want.size(); k++) {
    std::vector<Bytes> lanes = e.LaneBytes();
    std::vector<ByteView> views(lanes.begin(), lanes.end());
    auto back = e.has_polys()
                    ? ChunkEncoder::FromRecord(e.idx(), {}, views, 80)
                    : ChunkEncoder::FromRecord(e.idx(), views, {}, 80);
    ASSERT_TRUE(back.has_value()) << k;
    EXPECT_EQ(k >= 6, e.has_polys()) << k;  // polys once chunk 5 was made
    e = *back;
    EXPECT_EQ(want[k], e.NextChunk()) << k;
  }
}

TEST(ChunkCodeTest, BrokenRecordsAreRefused) {
  const Bytes lane4(4, 0);
  const Bytes lane6(6, 0);
  const Bytes odd(3, 0);
  std::vector<ByteView> good(16, lane6);
  std::vector<ByteView> short_lane = good;
  short_lane[15] = lane4;
  std::vector<ByteView> fifteen(15, lane6);
  EXPECT_TRUE(ChunkEncoder::FromRecord(0, good, {}, 48).has_value());
  EXPECT_TRUE(ChunkEncoder::FromRecord(9, {}, good, 48).has_value());
  EXPECT_FALSE(ChunkEncoder::FromRecord(0, good, good, 48).has_value());
  EXPECT_FALSE(ChunkEncoder::FromRecord(0, {}, {}, 48).has_value());
  EXPECT_FALSE(ChunkEncoder::FromRecord(0, short_lane, {}, 48).has_value());
  EXPECT_FALSE(ChunkEncoder::FromRecord(0, fifteen, {}, 48).has_value());
  EXPECT_FALSE(ChunkEncoder::FromRecord(0, good, {}, 80).has_value());

  const Bytes two_points = {0, 1, 0, 0, 0, 2, 0, 0};
  const Bytes unsorted = {0, 2, 0, 0, 0, 1, 0, 0};
  const Bytes repeated = {0, 1, 0, 0, 0, 1, 0, 0};
  std::vector<ByteView> pts(16, two_points);
  EXPECT_TRUE(ChunkDecoder::FromRecord(48, 16, pts, 48).has_value());
  EXPECT_FALSE(ChunkDecoder::FromRecord(48, 15, pts, 48).has_value());
  EXPECT_FALSE(ChunkDecoder::FromRecord(47, 16, pts, 48).has_value());
  for (const Bytes* bad : {&unsorted, &repeated, &odd}) {
    std::vector<ByteView> broken = pts;
    broken[3] = *bad;
    EXPECT_FALSE(ChunkDecoder::FromRecord(48, 16, broken, 48).has_value());
  }
}

}  // namespace
}  // namespace velmo::pq
