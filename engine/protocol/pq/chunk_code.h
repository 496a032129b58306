// The chunk code: an erasure code over GF(2^16) that cuts an object of the
// key exchange into 32-byte chunks, any sufficient set of which rebuilds it.
//
// An object of L bytes is L/2 big-endian 16-bit values; value i belongs to
// lane i mod 16 at position i / 16. Lane j is the polynomial of degree below
// its value count n_j through (0, v0), (1, v1), ...; chunk k holds every
// lane's polynomial at x = k, lane 0 first, so chunks below n_j are the
// object's own bytes and later ones are redundancy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crypto/secure_bytes.h"

namespace velmo::pq {

using crypto::ByteView;
using crypto::Bytes;

inline constexpr size_t kLanes = 16;
inline constexpr size_t kChunkDataBytes = 2 * kLanes;
inline constexpr size_t kMaxObjectBytes = size_t{1} << 20;
inline constexpr uint32_t kMaxChunkIndex = 65535;

struct Chunk {
  uint16_t index = 0;
  std::array<uint8_t, kChunkDataBytes> data{};

  bool operator==(const Chunk&) const = default;
};

// LaneCount returns how many of an object's `num_values` 16-bit values lane
// `lane` holds.
constexpr size_t LaneCount(size_t num_values, size_t lane) {
  return num_values / kLanes + (lane < num_values % kLanes ? 1 : 0);
}

// ChunkEncoder produces the chunks of one outgoing object, one per call.
// Until it first needs a redundancy chunk it holds each lane's values; from
// then on each lane polynomial's coefficients (degree 0 first).
class ChunkEncoder {
 public:
  // An encoder of the empty object, to be assigned a real one.
  ChunkEncoder() = default;
  // Starts at chunk 0 on `object`, whose length must be even and at most
  // kMaxObjectBytes (the caller's objects are fixed sizes that qualify).
  explicit ChunkEncoder(ByteView object);

  // FromRecord rebuilds an encoder from its stored form: the next index and
  // 16 lanes of 2-byte big-endian numbers, either values (`pts`) or
  // coefficients (`polys`), exactly one of the two non-empty. The lanes must
  // be those of an object of `num_values` values. Nullopt when they are not.
  static std::optional<ChunkEncoder> FromRecord(uint32_t idx,
                                                std::span<const ByteView> pts,
                                                std::span<const ByteView> polys,
                                                size_t num_values);

  // NextChunk returns chunk `idx` and advances. Past index 65535 the
  // encoder starts over at chunk 0: by then the peer has had every distinct
  // chunk there is, and repeating one is harmless.
  Chunk NextChunk();

  uint32_t idx() const { return idx_; }
  bool has_polys() const { return has_polys_; }
  // Lanes in the stored form: values while !has_polys(), else coefficients.
  std::vector<Bytes> LaneBytes() const;

 private:
  void ComputePolys();

  uint32_t idx_ = 0;
  bool has_polys_ = false;
  std::array<std::vector<uint16_t>, kLanes> lanes_;
};

// ChunkDecoder collects the chunks of one incoming object until it can
// rebuild it.
class ChunkDecoder {
 public:
  // Expects an object of `num_values` 16-bit values (at most
  // kMaxObjectBytes / 2).
  explicit ChunkDecoder(size_t num_values);
  // A decoder of the empty object, to be assigned a real one.
  ChunkDecoder() : ChunkDecoder(0) {}

  // FromRecord rebuilds a decoder from its stored form: the value count, the
  // lane count (must be 16) and per lane the points, 4 bytes each (x, then
  // the value, both 2 bytes big-endian), in strictly ascending x. Nullopt
  // when the form is broken or the value count is not `num_values`.
  static std::optional<ChunkDecoder> FromRecord(uint32_t pts_needed,
                                                uint32_t polys,
                                                std::span<const ByteView> pts,
                                                size_t num_values);

  // Add takes one chunk lane by lane. A lane that already has all the
  // points it needs ignores redundancy; a point at an x it already holds
  // replaces the old one.
  void Add(const Chunk& chunk);

  // Complete tells whether every lane holds at least the points it needs.
  bool Complete() const;

  // Decoded rebuilds the object (num_values * 2 bytes) once Complete(),
  // interpolating each lane through its lowest needed-count points;
  // nullopt before that.
  std::optional<Bytes> Decoded() const;

  uint32_t num_values() const { return num_values_; }
  // Per lane the points in the stored form.
  std::vector<Bytes> LaneBytes() const;

 private:
  struct Point {
    uint16_t x;
    uint16_t y;
  };

  uint32_t num_values_;
  std::array<std::vector<Point>, kLanes> lanes_;
};

}  // namespace velmo::pq
