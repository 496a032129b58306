// The protocol-buffer wire format as our stored records and messages use it.
//
// General protobuf libraries differ from what our peers and stored records
// need on several points (strict rejection of malformed input, no retention of
// unknown fields, sign extension of int32, explicit presence), so this is a
// small codec of our own. It knows no schema: each record's reader walks the
// fields with a pb::Reader and its writer emits them, in ascending order, with
// a pb::Writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "crypto/secure_bytes.h"

namespace velmo::proto::pb {

using crypto::ByteView;

enum class WireType : uint8_t {
  kVarint = 0,
  kFixed64 = 1,
  kLengthDelimited = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kFixed32 = 5,
};

// Embedded messages (and skipped groups) may nest this deep; one more level
// makes the whole record unreadable.
inline constexpr int kMaxDepth = 100;

// A varint takes at most this many bytes; a longer one is malformed.
inline constexpr size_t kMaxVarintBytes = 10;

// ReadVarint decodes one varint from the front of `in` and advances it.
// False (and `in` unchanged) when it runs past the end or exceeds 10 bytes.
[[nodiscard]] inline bool ReadVarint(ByteView* in, uint64_t* out) {
  const uint8_t* p = in->data();
  size_t n = in->size();
  if (n > 0 && p[0] < 0x80) {  // the common one-byte case
    *out = p[0];
    *in = in->subspan(1);
    return true;
  }
  uint64_t value = 0;
  for (size_t i = 0; i < kMaxVarintBytes && i < n; i++) {
    value |= static_cast<uint64_t>(p[i] & 0x7f) << (7 * i);
    if (p[i] < 0x80) {
      *out = value;
      *in = in->subspan(i + 1);
      return true;
    }
  }
  return false;
}

// Reader walks the fields of one message held in storage it does not own.
//
//   pb::Reader r(bytes, depth);
//   while (r.Next()) {
//     switch (r.field()) {
//       case 1: if (!r.ReadUint32(&out->id)) return false; break;
//       default: if (!r.Skip()) return false;
//     }
//   }
//   return r.ok();
//
// Next() rejects field number 0, wire types 6 and 7 and stray end-group keys.
// Every Read* checks that the field arrived with the wire type its reader
// expects; a mismatch, an over-long varint or a length running past the end
// makes the reader fail for good (ok() turns false, Next() returns false).
class Reader {
 public:
  // depth: how many embedded messages enclose this one (0 for a record).
  explicit Reader(ByteView in, int depth = 0) : in_(in), depth_(depth) {}

  // Next moves to the next field. False at the end of the message or on a
  // malformed key; ok() tells the two apart.
  [[nodiscard]] bool Next() {
    if (!ok_ || in_.empty()) {
      return false;
    }
    uint64_t key;
    if (!ReadVarint(&in_, &key) || key > UINT32_MAX) {
      return Fail();
    }
    field_ = static_cast<uint32_t>(key >> 3);
    uint32_t type = key & 7;
    // An end-group key is only valid inside a group, which Skip consumes.
    if (field_ == 0 || type > 5 || type == 4) {
      return Fail();
    }
    wire_type_ = static_cast<WireType>(type);
    return true;
  }
  bool ok() const { return ok_; }

  uint32_t field() const { return field_; }
  WireType wire_type() const { return wire_type_; }
  int depth() const { return depth_; }

  // Value readers for the current field. uint32 and int32 keep the low 32
  // bits of the varint; bool is any non-zero varint.
  [[nodiscard]] bool ReadUint64(uint64_t* out) {
    return Expect(WireType::kVarint) && (ReadVarint(&in_, out) || Fail());
  }
  [[nodiscard]] bool ReadUint32(uint32_t* out) {
    uint64_t v;
    if (!ReadUint64(&v)) return false;
    *out = static_cast<uint32_t>(v);
    return true;
  }
  [[nodiscard]] bool ReadInt32(int32_t* out) {
    uint64_t v;
    if (!ReadUint64(&v)) return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  [[nodiscard]] bool ReadBool(bool* out) {
    uint64_t v;
    if (!ReadUint64(&v)) return false;
    *out = v != 0;
    return true;
  }
  [[nodiscard]] bool ReadFixed64(uint64_t* out) {
    if (!Expect(WireType::kFixed64) || in_.size() < 8) {
      return Fail();
    }
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = (v << 8) | in_[i];
    *out = v;
    in_ = in_.subspan(8);
    return true;
  }
  // The bytes of a length-delimited field, viewing the input.
  [[nodiscard]] bool ReadBytes(ByteView* out) {
    return Expect(WireType::kLengthDelimited) && TakeLengthDelimited(out);
  }
  // An embedded message: its bytes, after a check that one more level of
  // nesting is allowed. Decode it with Reader(*out, depth() + 1).
  [[nodiscard]] bool ReadMessage(ByteView* out) {
    if (depth_ + 1 > kMaxDepth) {
      return Fail();
    }
    return ReadBytes(out);
  }
  // Skip steps over the current field, whatever its wire type (groups
  // included, nested ones too, within the depth limit).
  [[nodiscard]] bool Skip();

  // Fail marks the message unreadable; for checks a record reader adds.
  bool Fail() {
    ok_ = false;
    return false;
  }

 private:
  bool SkipValue(WireType type, uint32_t field, int depth);
  bool Expect(WireType type) {
    return wire_type_ == type || Fail();
  }
  bool TakeLengthDelimited(ByteView* out) {
    uint64_t n;
    if (!ReadVarint(&in_, &n) || n > in_.size()) {
      return Fail();
    }
    *out = in_.first(static_cast<size_t>(n));
    in_ = in_.subspan(static_cast<size_t>(n));
    return true;
  }

  ByteView in_;
  int depth_;
  bool ok_ = true;
  uint32_t field_ = 0;
  WireType wire_type_ = WireType::kVarint;
};

// ReadFields walks the fields of one message, handing each to `on_field`,
// which reads or skips it and returns whether that worked:
//
//   return pb::ReadFields(bytes, depth, [&](pb::Reader& r) {
//     switch (r.field()) {
//       case 1: return r.ReadUint32(&out->id);
//       default: return r.Skip();
//     }
//   });
//
// True when every field was read and the message is well formed.
template <class OnField>
[[nodiscard]] bool ReadFields(ByteView in, int depth, OnField on_field) {
  Reader r(in, depth);
  while (r.Next()) {
    if (!on_field(r)) return false;
  }
  return r.ok();
}

// Writer appends fields to a buffer (Bytes for messages, SecretBytes for
// records that carry secrets). Callers write fields in ascending field-number
// order. The two presence styles: Uint32, Bytes, ... omit a zero or empty
// value; the *Present forms always write it.
template <class Buffer>
class Writer {
 public:
  explicit Writer(Buffer* out) : out_(out) {}

  void Uint64(uint32_t field, uint64_t value) {
    if (value != 0) Uint64Present(field, value);
  }
  void Uint64Present(uint32_t field, uint64_t value) {
    Key(field, WireType::kVarint);
    Varint(value);
  }
  void Uint32(uint32_t field, uint32_t value) { Uint64(field, value); }
  void Uint32Present(uint32_t field, uint32_t value) {
    Uint64Present(field, value);
  }
  // int32 is sign-extended to 64 bits, so a negative value takes 10 bytes.
  void Int32(uint32_t field, int32_t value) {
    Uint64(field, static_cast<uint64_t>(static_cast<int64_t>(value)));
  }
  void Bool(uint32_t field, bool value) { Uint64(field, value ? 1 : 0); }
  void Fixed64(uint32_t field, uint64_t value) {
    if (value == 0) return;
    Key(field, WireType::kFixed64);
    uint8_t le[8];
    for (int i = 0; i < 8; i++) le[i] = static_cast<uint8_t>(value >> (8 * i));
    Append(le, sizeof(le));
  }
  void Bytes(uint32_t field, ByteView value) {
    if (!value.empty()) BytesPresent(field, value);
  }
  void BytesPresent(uint32_t field, ByteView value) {
    Key(field, WireType::kLengthDelimited);
    Varint(value.size());
    Append(value.data(), value.size());
  }

  // BeginMessage and EndMessage frame an embedded message written between
  // them:  size_t at = w.BeginMessage(6);  ...its fields...;  w.EndMessage(at);
  // Embedded messages always have presence, so an empty one is written too.
  size_t BeginMessage(uint32_t field) {
    Key(field, WireType::kLengthDelimited);
    size_t at = out_->size();
    static constexpr uint8_t kRoom[kLengthRoom] = {};
    Append(kRoom, kLengthRoom);
    return at;
  }
  void EndMessage(size_t at) {
    // The body was written after room for the longest length prefix; write
    // the real prefix and close the gap.
    size_t body = out_->size() - at - kLengthRoom;
    uint8_t prefix[kMaxVarintBytes];
    size_t n = EncodeVarint(body, prefix);
    std::copy(prefix, prefix + n, out_->begin() + at);
    out_->erase(out_->begin() + at + n, out_->begin() + at + kLengthRoom);
  }

 private:
  // Records never approach 4 GiB (the bridge carries 32-bit lengths), so a
  // length prefix needs at most five bytes.
  static constexpr size_t kLengthRoom = 5;

  static size_t EncodeVarint(uint64_t value, uint8_t* out) {
    size_t n = 0;
    while (value >= 0x80) {
      out[n++] = static_cast<uint8_t>(value | 0x80);
      value >>= 7;
    }
    out[n++] = static_cast<uint8_t>(value);
    return n;
  }
  void Key(uint32_t field, WireType type) {
    Varint((static_cast<uint64_t>(field) << 3) | static_cast<uint64_t>(type));
  }
  void Varint(uint64_t value) {
    uint8_t buf[kMaxVarintBytes];
    size_t n = EncodeVarint(value, buf);
    Append(buf, n);
  }
  void Append(const uint8_t* data, size_t n) {
    size_t at = out_->size();
    out_->resize(at + n);
    if (n != 0) std::memcpy(out_->data() + at, data, n);
  }

  Buffer* out_;
};

}  // namespace velmo::proto::pb
