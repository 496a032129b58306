#include "bridge/arguments.h"

#include <string>
#include <utility>

namespace velmo::bridge {
namespace {

bool LengthsValid(const uint8_t* data, int32_t cap, int32_t len) {
  return len >= 0 && cap >= len && (cap == 0 || data != nullptr);
}

}  // namespace

Arguments::Arguments(uint8_t* data, int32_t cap, int32_t len) noexcept
    : data_(data), cap_(cap), len_(len) {
  if (LengthsValid(data, cap, len) && cap > 0) {
    reader_ = ByteReader(std::span<const uint8_t>(data, cap));
  }
}

Arguments::Arguments(Arguments&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      cap_(std::exchange(other.cap_, 0)),
      len_(std::exchange(other.len_, 0)),
      reader_(std::exchange(other.reader_, ByteReader())) {}

void Arguments::CheckLengths() const {
  if (!LengthsValid(data_, cap_, len_)) {
    throw Fault("argument buffer lengths are inconsistent: allocated " +
                std::to_string(cap_) + ", data " + std::to_string(len_));
  }
}

void Arguments::Finish() {
  size_t end = reader_.position();
  const char* failure = reader_.failure();
  Release();
  if (failure != nullptr) {
    throw Fault(failure);
  }
  if (end != static_cast<size_t>(len_)) {
    throw Fault("arguments end at byte " + std::to_string(end) +
                " but the data length is " + std::to_string(len_));
  }
}

void Arguments::Release() noexcept {
  if (cap_ > 0) {
    ReleaseBytes(data_, static_cast<size_t>(cap_));
  }
  data_ = nullptr;
  cap_ = 0;
  reader_ = ByteReader();
}

}  // namespace velmo::bridge
