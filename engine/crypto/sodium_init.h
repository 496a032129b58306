// Internal to the crypto layer: libsodium must be initialised once before use
// so that it picks the fastest code for the CPU.
#pragma once

namespace velmo::crypto::internal {
void EnsureSodiumOnce();
}  // namespace velmo::crypto::internal

namespace velmo::crypto {
inline void EnsureSodium() {
  static const bool ready = (internal::EnsureSodiumOnce(), true);
  (void)ready;
}
}  // namespace velmo::crypto
