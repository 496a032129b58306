// SharedBytes: an immutable byte string that shares its storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "crypto/secure_bytes.h"

namespace velmo::proto {

// SharedBytes views bytes held by a wiping buffer that it shares with other
// views of the same buffer. Archived session states are kept this way: a
// record read from a buffer the caller hands over views its archived states
// in place, and copies of the record (every session load hands one out)
// share them instead of copying them. The bytes never change; a new state
// gets a buffer of its own.
class SharedBytes {
 public:
  SharedBytes() = default;
  // Takes over `bytes`.
  explicit SharedBytes(crypto::SecretBytes bytes)
      : owner_(std::make_shared<const crypto::SecretBytes>(std::move(bytes))),
        view_(*owner_) {}
  // A view of `view`, which must lie inside `*owner`.
  SharedBytes(std::shared_ptr<const crypto::SecretBytes> owner,
              crypto::ByteView view)
      : owner_(std::move(owner)), view_(view) {}

  crypto::ByteView view() const { return view_; }
  operator crypto::ByteView() const { return view_; }
  const uint8_t* data() const { return view_.data(); }
  size_t size() const { return view_.size(); }
  bool empty() const { return view_.empty(); }

 private:
  std::shared_ptr<const crypto::SecretBytes> owner_;
  crypto::ByteView view_;
};

}  // namespace velmo::proto
