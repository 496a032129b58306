#include "protocol/pq/chunk_code.h"

#include <algorithm>
#include <cassert>

#include "protocol/pq/gf16.h"

namespace velmo::pq {

namespace {

uint16_t ReadBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void WriteBe16(uint16_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// Evaluate returns the polynomial with coefficients `c` (degree 0 first) at x.
uint16_t Evaluate(const std::vector<uint16_t>& c, uint16_t x) {
  uint16_t acc = 0;
  for (size_t i = c.size(); i-- > 0;) {
    acc = gf16::Add(gf16::Mul(acc, x), c[i]);
  }
  return acc;
}

// Interpolate returns the coefficients of the polynomial of degree below n
// through the n points (xs[i], ys[i]); the xs are distinct. Lagrange form:
// with M(x) = prod (x - xs[i]), each term is ys[i] * M(x) / (x - xs[i])
// divided by that quotient's value at xs[i]. O(n^2).
std::vector<uint16_t> Interpolate(std::span<const uint16_t> xs,
                                  std::span<const uint16_t> ys) {
  const size_t n = xs.size();
  std::vector<uint16_t> out(n, 0);
  if (n == 0) {
    return out;
  }
  // M has degree n: coefficients m[0..n].
  std::vector<uint16_t> m(n + 1, 0);
  m[0] = 1;
  for (size_t i = 0; i < n; i++) {
    // Multiply by (x + xs[i]) (subtraction is addition here).
    for (size_t d = i + 1; d > 0; d--) {
      m[d] = gf16::Add(m[d - 1], gf16::Mul(m[d], xs[i]));
    }
    m[0] = gf16::Mul(m[0], xs[i]);
  }
  std::vector<uint16_t> q(n);
  for (size_t i = 0; i < n; i++) {
    // Synthetic division of M by (x + xs[i]): q has degree n - 1.
    uint16_t carry = m[n];
    for (size_t d = n; d-- > 0;) {
      q[d] = carry;
      carry = gf16::Add(m[d], gf16::Mul(carry, xs[i]));
    }
    const uint16_t scale = gf16::Mul(ys[i], gf16::Inv(Evaluate(q, xs[i])));
    if (scale == 0) {
      continue;
    }
    for (size_t d = 0; d < n; d++) {
      out[d] = gf16::Add(out[d], gf16::Mul(scale, q[d]));
    }
  }
  return out;
}

// LanesFromBytes reads 16 lanes of 2-byte big-endian numbers whose counts
// must be `counts[j]` each. False on any mismatch.
bool LanesFromBytes(std::span<const ByteView> in,
                    const std::array<size_t, kLanes>& counts,
                    std::array<std::vector<uint16_t>, kLanes>* out) {
  if (in.size() != kLanes) {
    return false;
  }
  for (size_t j = 0; j < kLanes; j++) {
    if (in[j].size() != 2 * counts[j]) {
      return false;
    }
    (*out)[j].resize(counts[j]);
    for (size_t i = 0; i < counts[j]; i++) {
      (*out)[j][i] = ReadBe16(&in[j][2 * i]);
    }
  }
  return true;
}

std::array<size_t, kLanes> LaneCounts(size_t num_values) {
  std::array<size_t, kLanes> counts;
  for (size_t j = 0; j < kLanes; j++) {
    counts[j] = LaneCount(num_values, j);
  }
  return counts;
}

}  // namespace

ChunkEncoder::ChunkEncoder(ByteView object) {
  assert(object.size() % 2 == 0 && object.size() <= kMaxObjectBytes);
  const size_t num_values = object.size() / 2;
  for (size_t j = 0; j < kLanes; j++) {
    lanes_[j].reserve(LaneCount(num_values, j));
  }
  for (size_t i = 0; i < num_values; i++) {
    lanes_[i % kLanes].push_back(ReadBe16(&object[2 * i]));
  }
}

std::optional<ChunkEncoder> ChunkEncoder::FromRecord(
    uint32_t idx,
    std::span<const ByteView> pts,
    std::span<const ByteView> polys,
    size_t num_values) {
  if (pts.empty() == polys.empty() || num_values > kMaxObjectBytes / 2) {
    return std::nullopt;
  }
  ChunkEncoder e;
  e.idx_ = idx;
  e.has_polys_ = !polys.empty();
  // A lane polynomial has as many coefficients as the lane has values.
  if (!LanesFromBytes(e.has_polys_ ? polys : pts, LaneCounts(num_values),
                      &e.lanes_)) {
    return std::nullopt;
  }
  return e;
}

void ChunkEncoder::ComputePolys() {
  for (auto& lane : lanes_) {
    std::vector<uint16_t> xs(lane.size());
    for (size_t i = 0; i < xs.size(); i++) {
      xs[i] = static_cast<uint16_t>(i);
    }
    lane = Interpolate(xs, lane);
  }
  has_polys_ = true;
}

Chunk ChunkEncoder::NextChunk() {
  Chunk chunk;
  chunk.index = static_cast<uint16_t>(idx_ & kMaxChunkIndex);
  idx_++;
  const uint16_t x = chunk.index;
  if (!has_polys_) {
    for (const auto& lane : lanes_) {
      if (x >= lane.size()) {
        ComputePolys();
        break;
      }
    }
  }
  for (size_t j = 0; j < kLanes; j++) {
    const uint16_t v = has_polys_ ? Evaluate(lanes_[j], x) : lanes_[j][x];
    WriteBe16(v, &chunk.data[2 * j]);
  }
  return chunk;
}

std::vector<Bytes> ChunkEncoder::LaneBytes() const {
  std::vector<Bytes> out(kLanes);
  for (size_t j = 0; j < kLanes; j++) {
    out[j].resize(2 * lanes_[j].size());
    for (size_t i = 0; i < lanes_[j].size(); i++) {
      WriteBe16(lanes_[j][i], &out[j][2 * i]);
    }
  }
  return out;
}

ChunkDecoder::ChunkDecoder(size_t num_values)
    : num_values_(static_cast<uint32_t>(num_values)) {
  assert(num_values <= kMaxObjectBytes / 2);
}

std::optional<ChunkDecoder> ChunkDecoder::FromRecord(
    uint32_t pts_needed,
    uint32_t polys,
    std::span<const ByteView> pts,
    size_t num_values) {
  if (pts_needed != num_values || num_values > kMaxObjectBytes / 2 ||
      polys != kLanes || pts.size() != kLanes) {
    return std::nullopt;
  }
  ChunkDecoder d(num_values);
  for (size_t j = 0; j < kLanes; j++) {
    if (pts[j].size() % 4 != 0) {
      return std::nullopt;
    }
    auto& lane = d.lanes_[j];
    lane.resize(pts[j].size() / 4);
    for (size_t i = 0; i < lane.size(); i++) {
      lane[i] = {ReadBe16(&pts[j][4 * i]), ReadBe16(&pts[j][4 * i + 2])};
      if (i > 0 && lane[i].x <= lane[i - 1].x) {
        return std::nullopt;
      }
    }
  }
  return d;
}

void ChunkDecoder::Add(const Chunk& chunk) {
  const uint16_t x = chunk.index;
  for (size_t j = 0; j < kLanes; j++) {
    auto& lane = lanes_[j];
    const size_t needed = LaneCount(num_values_, j);
    if (x >= needed && lane.size() >= needed) {
      continue;
    }
    const Point p{x, ReadBe16(&chunk.data[2 * j])};
    auto at = std::lower_bound(
        lane.begin(), lane.end(), x,
        [](const Point& q, uint16_t want) { return q.x < want; });
    if (at != lane.end() && at->x == x) {
      *at = p;
    } else {
      lane.insert(at, p);
    }
  }
}

bool ChunkDecoder::Complete() const {
  for (size_t j = 0; j < kLanes; j++) {
    if (lanes_[j].size() < LaneCount(num_values_, j)) {
      return false;
    }
  }
  return true;
}

std::optional<Bytes> ChunkDecoder::Decoded() const {
  if (!Complete()) {
    return std::nullopt;
  }
  Bytes out(2 * size_t{num_values_});
  std::vector<uint16_t> xs;
  std::vector<uint16_t> ys;
  for (size_t j = 0; j < kLanes; j++) {
    const size_t needed = LaneCount(num_values_, j);
    const auto& lane = lanes_[j];
    xs.resize(needed);
    ys.resize(needed);
    // Points are sorted by x, so the lowest `needed` of them are the first;
    // when those are x = 0 .. needed-1 they are the values themselves.
    bool systematic = true;
    for (size_t i = 0; i < needed; i++) {
      xs[i] = lane[i].x;
      ys[i] = lane[i].y;
      systematic = systematic && lane[i].x == i;
    }
    if (!systematic) {
      std::vector<uint16_t> poly = Interpolate(xs, ys);
      for (size_t i = 0; i < needed; i++) {
        ys[i] = Evaluate(poly, static_cast<uint16_t>(i));
      }
    }
    for (size_t i = 0; i < needed; i++) {
      WriteBe16(ys[i], &out[2 * (i * kLanes + j)]);
    }
  }
  return out;
}

std::vector<Bytes> ChunkDecoder::LaneBytes() const {
  std::vector<Bytes> out(kLanes);
  for (size_t j = 0; j < kLanes; j++) {
    out[j].resize(4 * lanes_[j].size());
    for (size_t i = 0; i < lanes_[j].size(); i++) {
      WriteBe16(lanes_[j][i].x, &out[j][4 * i]);
      WriteBe16(lanes_[j][i].y, &out[j][4 * i + 2]);
    }
  }
  return out;
}

}  // namespace velmo::pq
