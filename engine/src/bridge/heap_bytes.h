// Byte storage that crosses the C boundary: argument buffers the Dart side
// fills, replies it reads. Everything is malloc'd with its exact length, so
// every release path can work from the length alone, and wiped before it is
// freed because arguments and replies carry key material.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace velmo::bridge {

// The non-null pointer handed out for a zero-length buffer; it owns nothing.
inline uint8_t* const kEmptyPlaceholder = reinterpret_cast<uint8_t*>(1);

// AllocateZeroed returns `len` zero bytes, the placeholder for 0, or null when
// memory is exhausted.
uint8_t* AllocateZeroed(size_t len) noexcept;

// Reallocate returns storage of exactly `new_len` bytes holding the first
// min(old_len, new_len) bytes of `data` and zeroes after them; `data` is
// wiped and released. Null (with `data` untouched) when memory is exhausted.
uint8_t* Reallocate(uint8_t* data, size_t old_len, size_t new_len) noexcept;

// ReleaseBytes wipes and frees `len` bytes; length 0 releases nothing.
void ReleaseBytes(uint8_t* data, size_t len) noexcept;

// OwnedBytes is the sole owner of a malloc'd block of exactly size() bytes.
class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}
  OwnedBytes(OwnedBytes&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  OwnedBytes& operator=(OwnedBytes&& other) noexcept {
    if (this != &other) {
      Reset();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;
  ~OwnedBytes() { Reset(); }

  uint8_t* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  // Release gives up ownership; the caller frees with ReleaseBytes(data, size).
  uint8_t* Release() noexcept {
    size_ = 0;
    return std::exchange(data_, nullptr);
  }
  void Reset() noexcept {
    ReleaseBytes(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace velmo::bridge
