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
// key: up to 33 bytes (a 32-byte secret or a 33-byte encoded public key) live
// inline, so reading a record with thousands of message keys allocates
// nothing for them; longer strings go to a wiping heap buffer. Whatever it
// held is wiped when it is destroyed or reassigned, so it can carry secrets.
class KeyBytes {
 public:
  static constexpr size_t kInline = 33;

  KeyBytes() = default;
  explicit KeyBytes(ByteView v) { assign(v); }
  KeyBytes(const KeyBytes& other) { assign(other.view()); }
  KeyBytes(KeyBytes&& other) noexcept { *this = std::move(other); }
  KeyBytes& operator=(const KeyBytes& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  KeyBytes& operator=(KeyBytes&& other) noexcept {
    if (this != &other) {
      clear();
      size_ = other.size_;
      if (other.size_ <= kInline) {
        std::memcpy(inline_, other.inline_, other.size_);
      } else {
        heap_ = std::move(other.heap_);
      }
      other.clear();
    }
    return *this;
  }
  ~KeyBytes() { crypto::secure_wipe(inline_, sizeof(inline_)); }

  void assign(ByteView v) {
    clear();
    size_ = v.size();
    if (size_ <= kInline) {
      if (size_ != 0) std::memcpy(inline_, v.data(), size_);
    } else {
      heap_.assign(v.begin(), v.end());
    }
  }
  void clear() {
    crypto::secure_wipe(inline_, std::min<size_t>(size_, kInline));
    heap_.clear();
    heap_.shrink_to_fit();  // the wiping allocator clears the old block
    size_ = 0;
  }

  const uint8_t* data() const {
    return size_ <= kInline ? inline_ : heap_.data();
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  ByteView view() const { return ByteView(data(), size_); }
  operator ByteView() const { return view(); }

  // Equality runs in constant time for equal lengths (lengths are public).
  friend bool operator==(const KeyBytes& a, const KeyBytes& b) {
    return crypto::ct_equal(a.view(), b.view());
  }

 private:
  size_t size_ = 0;
  uint8_t inline_[kInline] = {};
  SecretBytes heap_;
};

}  // namespace velmo::proto
