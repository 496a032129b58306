#include "bridge/heap_bytes.h"

#include <cstdlib>
#include <cstring>

#include "crypto/secure_bytes.h"

namespace velmo::bridge {

uint8_t* AllocateZeroed(size_t len) noexcept {
  if (len == 0) {
    return kEmptyPlaceholder;
  }
  return static_cast<uint8_t*>(std::calloc(len, 1));
}

uint8_t* Reallocate(uint8_t* data, size_t old_len, size_t new_len) noexcept {
  if (new_len > 0 && new_len < old_len) {
    // Shrinking splits the block in place; only the cut-off tail needs wiping.
    crypto::secure_wipe(data + new_len, old_len - new_len);
    void* shrunk = std::realloc(data, new_len);
    return shrunk != nullptr ? static_cast<uint8_t*>(shrunk) : data;
  }
  // Growing is not left to realloc: a block it moves is freed without being
  // wiped.
  uint8_t* fresh = AllocateZeroed(new_len);
  if (fresh == nullptr) {
    return nullptr;
  }
  size_t kept = old_len < new_len ? old_len : new_len;
  if (kept > 0) {
    std::memcpy(fresh, data, kept);
  }
  ReleaseBytes(data, old_len);
  return fresh;
}

void ReleaseBytes(uint8_t* data, size_t len) noexcept {
  if (len == 0 || data == nullptr || data == kEmptyPlaceholder) {
    return;
  }
  crypto::secure_wipe(data, len);
  std::free(data);
}

}  // namespace velmo::bridge
