#include "bridge/encoding.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "crypto/secure_bytes.h"

namespace velmo::bridge {
namespace {

constexpr size_t kMaxLength = INT32_MAX;
constexpr size_t kFirstCapacity = 64;

}  // namespace

bool IsValidUtf8(std::span<const uint8_t> bytes) noexcept {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    uint8_t b = bytes[i];
    if (b < 0x80) {
      i++;
      continue;
    }
    size_t extra;
    uint8_t lo = 0x80;  // bounds of the second byte, narrowed below to rule
    uint8_t hi = 0xBF;  // out overlong forms, surrogates and > U+10FFFF
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i <= extra) {
      return false;
    }
    if (bytes[i + 1] < lo || bytes[i + 1] > hi) {
      return false;
    }
    for (size_t k = 2; k <= extra; k++) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        return false;
      }
    }
    i += extra + 1;
  }
  return true;
}

bool ByteReader::Fail(const char* reason) noexcept {
  if (failure_ == nullptr) {
    failure_ = reason;
  }
  return false;
}

bool ByteReader::Take(size_t len, const uint8_t** out) noexcept {
  if (len > remaining()) {
    return Fail("argument data ends early");
  }
  *out = in_.data() + pos_;
  pos_ += len;
  return true;
}

bool ByteReader::ReadU8(uint8_t* out) noexcept {
  const uint8_t* p;
  if (!Take(1, &p)) {
    return false;
  }
  *out = p[0];
  return true;
}

bool ByteReader::ReadBool(bool* out) noexcept {
  if (remaining() >= 1 && in_[pos_] > 1) {
    return Fail("boolean byte is neither 0 nor 1");
  }
  uint8_t v;
  if (!ReadU8(&v)) {
    return false;
  }
  *out = v == 1;
  return true;
}

bool ByteReader::ReadU32(uint32_t* out) noexcept {
  const uint8_t* p;
  if (!Take(4, &p)) {
    return false;
  }
  *out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  return true;
}

bool ByteReader::ReadI32(int32_t* out) noexcept {
  uint32_t v;
  if (!ReadU32(&v)) {
    return false;
  }
  *out = static_cast<int32_t>(v);
  return true;
}

bool ByteReader::ReadLength(size_t* out) noexcept {
  int32_t v;
  if (remaining() >= 4 && (in_[pos_ + 3] & 0x80) != 0) {
    return Fail("negative length or count");
  }
  if (!ReadI32(&v)) {
    return false;
  }
  *out = static_cast<size_t>(v);
  return true;
}

bool ByteReader::ReadBytes(std::span<const uint8_t>* out) noexcept {
  ByteReader r = *this;
  size_t len;
  const uint8_t* p;
  if (!r.ReadLength(&len) || !r.Take(len, &p)) {
    return Fail(r.failure_);
  }
  *out = std::span<const uint8_t>(p, len);
  pos_ = r.pos_;
  return true;
}

bool ByteReader::ReadText(std::string_view* out) noexcept {
  ByteReader r = *this;
  std::span<const uint8_t> bytes;
  if (!r.ReadBytes(&bytes)) {
    return Fail(r.failure_);
  }
  if (!IsValidUtf8(bytes)) {
    return Fail("text is not valid UTF-8");
  }
  *out = std::string_view(reinterpret_cast<const char*>(bytes.data()),
                          bytes.size());
  pos_ = r.pos_;
  return true;
}

bool ByteReader::ReadCount(size_t min_element_len, size_t* out) noexcept {
  ByteReader r = *this;
  size_t count;
  if (!r.ReadLength(&count)) {
    return Fail(r.failure_);
  }
  if (min_element_len > 0 && count > r.remaining() / min_element_len) {
    return Fail("list count exceeds the remaining argument data");
  }
  *out = count;
  pos_ = r.pos_;
  return true;
}

bool ByteReader::ReadEnumIndex(int32_t num_variants, int32_t* out) noexcept {
  ByteReader r = *this;
  int32_t index;
  if (!r.ReadI32(&index)) {
    return Fail(r.failure_);
  }
  if (index < 0 || index >= num_variants) {
    return Fail("enumeration index out of range");
  }
  *out = index;
  pos_ = r.pos_;
  return true;
}

ByteWriter::~ByteWriter() {
  Clear();
}

void ByteWriter::Clear() noexcept {
  ReleaseBytes(data_, capacity_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

uint8_t* ByteWriter::Extend(size_t len) {
  if (capacity_ - size_ < len) {
    size_t want = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    while (want - size_ < len) {
      want *= 2;
    }
    uint8_t* grown = Reallocate(data_, capacity_, want);
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    data_ = grown;
    capacity_ = want;
  }
  uint8_t* at = data_ + size_;
  size_ += len;
  return at;
}

void ByteWriter::AddU32(uint32_t v) {
  uint8_t* p = Extend(4);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void ByteWriter::AddCount(size_t count) {
  if (count > kMaxLength) {
    throw Fault("a length or count does not fit the bridge encoding");
  }
  AddU32(static_cast<uint32_t>(count));
}

void ByteWriter::AddBytes(std::span<const uint8_t> bytes) {
  AddCount(bytes.size());
  if (!bytes.empty()) {
    std::memcpy(Extend(bytes.size()), bytes.data(), bytes.size());
  }
}

void ByteWriter::AddText(std::string_view text) {
  AddBytes(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

OwnedBytes ByteWriter::TakeBytes() {
  uint8_t* exact = Reallocate(data_, capacity_, size_);
  if (exact == nullptr) {
    throw std::bad_alloc();
  }
  OwnedBytes out(exact, size_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  return out;
}

}  // namespace velmo::bridge
