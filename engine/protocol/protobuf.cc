#include "protocol/protobuf.h"

namespace velmo::proto::pb {

bool Reader::Skip() {
  if (!ok_) {
    return false;
  }
  return SkipValue(wire_type_, field_, depth_) || Fail();
}

// SkipValue consumes one value of the given wire type. A group runs until the
// end-group key of its own field number; groups inside it count towards the
// nesting limit like embedded messages.
bool Reader::SkipValue(WireType type, uint32_t field, int depth) {
  switch (type) {
    case WireType::kVarint: {
      uint64_t ignored;
      return ReadVarint(&in_, &ignored);
    }
    case WireType::kFixed64:
    case WireType::kFixed32: {
      size_t n = type == WireType::kFixed64 ? 8 : 4;
      if (in_.size() < n) {
        return false;
      }
      in_ = in_.subspan(n);
      return true;
    }
    case WireType::kLengthDelimited: {
      ByteView ignored;
      return TakeLengthDelimited(&ignored);
    }
    case WireType::kStartGroup: {
      if (depth + 1 > kMaxDepth) {
        return false;
      }
      for (;;) {
        uint64_t key;
        if (!ReadVarint(&in_, &key) || key > UINT32_MAX) {
          return false;
        }
        uint32_t inner_field = static_cast<uint32_t>(key >> 3);
        uint32_t inner_type = key & 7;
        if (inner_field == 0 || inner_type > 5) {
          return false;
        }
        if (inner_type == static_cast<uint32_t>(WireType::kEndGroup)) {
          return inner_field == field;
        }
        if (!SkipValue(static_cast<WireType>(inner_type), inner_field,
                       depth + 1)) {
          return false;
        }
      }
    }
    case WireType::kEndGroup:
      return false;
  }
  return false;
}

}  // namespace velmo::proto::pb
