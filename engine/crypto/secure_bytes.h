// Byte buffers for key material: wiped when freed, compared in constant time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace velmo::crypto {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Zeroes memory in a way the optimiser may not drop.
inline void secure_wipe(void* data, size_t size) noexcept {
  if (size == 0) return;
  explicit_bzero(data, size);
}

// Constant-time equality of two equal-length buffers; the time depends only on
// the length, never on where the first difference is.
inline bool ct_equal(const uint8_t* a, const uint8_t* b, size_t size) noexcept {
  volatile uint8_t diff = 0;
  for (size_t i = 0; i < size; ++i) diff = diff | static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

inline bool ct_equal(ByteView a, ByteView b) noexcept {
  return a.size() == b.size() && ct_equal(a.data(), b.data(), a.size());
}

// Allocator that wipes every block before handing it back, so secrets held in
// containers do not linger in freed heap memory (including after reallocation).
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

using SecretBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

// Fixed-size secret, wiped on destruction.
template <size_t N>
struct SecretArray {
  uint8_t bytes[N] = {};
  SecretArray() = default;
  SecretArray(const SecretArray&) = default;
  SecretArray& operator=(const SecretArray&) = default;
  ~SecretArray() { secure_wipe(bytes, N); }
  uint8_t* data() noexcept { return bytes; }
  const uint8_t* data() const noexcept { return bytes; }
  static constexpr size_t size() noexcept { return N; }
  operator ByteView() const noexcept { return ByteView(bytes, N); }
  // For functions that take a fixed-size input.
  operator std::span<const uint8_t, N>() const noexcept {
    return std::span<const uint8_t, N>(bytes);
  }
};

}  // namespace velmo::crypto
