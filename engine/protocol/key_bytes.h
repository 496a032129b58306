// KeyBytes: a byte string sized for keys, wiped when it goes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/secure_bytes.h"

namespace velmo::proto {

using crypto::ByteView;
using crypto::Bytes;
using crypto::SecretBytes;

// KeyBytes holds one byte-string field of a record that is nearly always a
// key: up to 36 bytes (a 32-byte secret or a 33-byte encoded public key) live
// inline, so reading a record with thousands of message keys allocates
// nothing for them; longer strings go to the heap. Whatever it held is wiped
// when it is destroyed or reassigned, so it can carry secrets.
class KeyBytes {
 public:
  static constexpr size_t kInline = 36;

  // User-provided, so that value-initializing a record does not zero the
  // inline bytes first (size_ alone says what is there).
  KeyBytes() {}
  explicit KeyBytes(ByteView v) { assign(v); }
  KeyBytes(const KeyBytes& other) { assign(other.view()); }
  KeyBytes(KeyBytes&& other) noexcept { Steal(other); }
  KeyBytes& operator=(const KeyBytes& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  KeyBytes& operator=(KeyBytes&& other) noexcept {
    if (this != &other) {
      clear();
      Steal(other);
    }
    return *this;
  }
  ~KeyBytes() { clear(); }

  void assign(ByteView v) {
    clear();
    if (v.size() > kInline) {
      heap_ = new uint8_t[v.size()];
    }
    size_ = static_cast<uint32_t>(v.size());
    if (size_ != 0) std::memcpy(mutable_data(), v.data(), size_);
  }
  void clear() {
    if (heap_ != nullptr) {
      crypto::secure_wipe(heap_, size_);
      delete[] heap_;
      heap_ = nullptr;
    } else {
      crypto::secure_wipe(inline_, size_);
    }
    size_ = 0;
  }

  const uint8_t* data() const { return heap_ != nullptr ? heap_ : inline_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  ByteView view() const { return ByteView(data(), size_); }
  operator ByteView() const { return view(); }

  // Equality runs in constant time for equal lengths (lengths are public).
  friend bool operator==(const KeyBytes& a, const KeyBytes& b) {
    return crypto::ct_equal(a.view(), b.view());
  }

 private:
  uint8_t* mutable_data() { return heap_ != nullptr ? heap_ : inline_; }
  // Takes over `other`'s bytes and leaves it empty; *this must be empty.
  void Steal(KeyBytes& other) noexcept {
    size_ = other.size_;
    heap_ = other.heap_;
    if (heap_ == nullptr) {
      std::memcpy(inline_, other.inline_, size_);
      crypto::secure_wipe(other.inline_, other.size_);
    }
    other.heap_ = nullptr;
    other.size_ = 0;
  }

  uint32_t size_ = 0;
  uint8_t inline_[kInline];
  uint8_t* heap_ = nullptr;
};

static_assert(sizeof(KeyBytes) == 48);

}  // namespace velmo::proto
