// Arguments: an argument buffer taken over from the caller of a dispatcher,
// and the reader over it.
#pragma once

#include <cstdint>

#include "bridge/encoding.h"

namespace velmo::bridge {

// Arguments owns the caller's buffer from construction on (`cap` allocated
// bytes; nothing to release when `cap` is 0 or negative) and releases it in
// Finish or, whatever happened before, in its destructor. Reads may go up to
// `cap`; the arguments must end exactly at `len`.
class Arguments {
 public:
  Arguments() noexcept : Arguments(nullptr, 0, 0) {}
  Arguments(uint8_t* data, int32_t cap, int32_t len) noexcept;
  Arguments(Arguments&& other) noexcept;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  Arguments& operator=(Arguments&&) = delete;
  ~Arguments() { Release(); }

  // CheckLengths throws Fault unless 0 <= len <= cap and a buffer is present.
  void CheckLengths() const;
  ByteReader& reader() noexcept { return reader_; }
  // Finish throws Fault, naming the reader's failure, when a read failed or
  // the reads did not end exactly at `len`; releases the buffer either way.
  void Finish();
  // Release frees the buffer now.
  void Release() noexcept;

 private:
  uint8_t* data_;
  int32_t cap_;
  int32_t len_;
  ByteReader reader_;
};

}  // namespace velmo::bridge
