// The bridge encoding's two halves: a reader over bytes it does not own and a
// writer that only appends. Little-endian; byte strings, texts and lists carry
// a 32-bit signed length or count; nothing else is added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bridge/heap_bytes.h"

namespace velmo::bridge {

// Fault is an internal failure: a malformed argument buffer or anything an
// operation did not expect. Dispatch turns it into a fault reply.
class Fault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// IsValidUtf8 accepts exactly the well-formed UTF-8 byte sequences: no
// overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::span<const uint8_t> bytes) noexcept;

// ByteReader reads the bridge encoding. Every read returns false on failure,
// leaves the reader where it was and keeps the first failure's reason; no
// read allocates.
class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> in) noexcept : in_(in) {}

  [[nodiscard]] bool ReadU8(uint8_t* out) noexcept;
  [[nodiscard]] bool ReadBool(bool* out) noexcept;
  [[nodiscard]] bool ReadU32(uint32_t* out) noexcept;
  [[nodiscard]] bool ReadI32(int32_t* out) noexcept;
  // ReadBytes reads a length and that many bytes, viewed in place.
  [[nodiscard]] bool ReadBytes(std::span<const uint8_t>* out) noexcept;
  // ReadText is ReadBytes for UTF-8.
  [[nodiscard]] bool ReadText(std::string_view* out) noexcept;
  // ReadCount reads a list's element count and fails unless the remaining
  // bytes could hold that many elements of at least `min_element_len` bytes,
  // so that a caller may reserve storage for them.
  [[nodiscard]] bool ReadCount(size_t min_element_len, size_t* out) noexcept;
  // ReadEnumIndex reads an enumeration index below `num_variants`.
  [[nodiscard]] bool ReadEnumIndex(int32_t num_variants, int32_t* out) noexcept;

  size_t position() const noexcept { return pos_; }
  size_t remaining() const noexcept { return in_.size() - pos_; }
  bool at_end() const noexcept { return pos_ == in_.size(); }
  // failure is the reason of the first failed read, or null.
  const char* failure() const noexcept { return failure_; }

 private:
  bool Fail(const char* reason) noexcept;
  bool Take(size_t len, const uint8_t** out) noexcept;
  bool ReadLength(size_t* out) noexcept;

  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  const char* failure_ = nullptr;
};

// ByteWriter appends the bridge encoding to storage of its own, wiped when
// released. TakeBytes shrinks the storage to its length and hands it over.
class ByteWriter {
 public:
  ByteWriter() = default;
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;
  ~ByteWriter();

  void AddU8(uint8_t v) { *Extend(1) = v; }
  void AddBool(bool v) { AddU8(v ? 1 : 0); }
  void AddU32(uint32_t v);
  void AddI32(int32_t v) { AddU32(static_cast<uint32_t>(v)); }
  // AddBytes writes the length and the bytes; throws Fault past 2^31 - 1.
  void AddBytes(std::span<const uint8_t> bytes);
  void AddText(std::string_view text);
  // AddCount writes a list's element count; throws Fault past 2^31 - 1.
  void AddCount(size_t count);

  size_t size() const noexcept { return size_; }
  std::span<const uint8_t> view() const noexcept { return {data_, size_}; }
  // TakeBytes returns the bytes written so far in storage of exactly their
  // length and leaves the writer empty. Throws std::bad_alloc.
  OwnedBytes TakeBytes();
  // Clear drops everything written so far.
  void Clear() noexcept;

 private:
  uint8_t* Extend(size_t len);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace velmo::bridge
