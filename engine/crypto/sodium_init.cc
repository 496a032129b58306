#include "crypto/sodium_init.h"

#include <sodium.h>

#include <stdexcept>

namespace velmo::crypto::internal {

void EnsureSodiumOnce() {
  if (sodium_init() < 0) {
    throw std::runtime_error("cannot initialise libsodium");
  }
}

}  // namespace velmo::crypto::internal
