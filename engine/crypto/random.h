// The random source: an interface that every operation drawing randomness takes
// by reference, the per-thread generator used in production, and deterministic
// streams for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>

#include "crypto/secure_bytes.h"

namespace velmo::crypto {

// Rng hands out random bytes. Implementations are not thread-safe; each thread
// uses its own.
class Rng {
 public:
  virtual ~Rng() = default;
  // Fill overwrites all of `out`. Throws RandomSourceError when the operating
  // system's source fails (the caller then produces no key material at all).
  virtual void Fill(std::span<uint8_t> out) = 0;
};

// Raised when the operating system's random source cannot be read.
class RandomSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ThreadRng returns the calling thread's cryptographically secure generator:
// ChaCha20 with fast key erasure, keyed from getrandom() on first use in the
// thread and again in a child process after fork(). The reference stays valid
// for the life of the thread.
Rng& ThreadRng();

// SeededRng is a deterministic ChaCha20 stream keyed by SHA-256(seed), so
// tests can reproduce key generation and whole exchanges byte for byte. It is
// as good as its seed: never use it with a guessable seed outside tests.
class SeededRng final : public Rng {
 public:
  explicit SeededRng(ByteView seed);
  explicit SeededRng(uint64_t seed);
  void Fill(std::span<uint8_t> out) override;

 private:
  SecretArray<32> key_;
  SecretArray<64> block_;
  uint64_t counter_ = 0;
  size_t used_ = sizeof(block_.bytes);
};

// ScriptedRng returns exactly the given bytes, in order, for known-answer
// tests. Asking for more than is left throws std::logic_error.
class ScriptedRng final : public Rng {
 public:
  explicit ScriptedRng(ByteView bytes);
  void Fill(std::span<uint8_t> out) override;
  size_t remaining() const { return bytes_.size() - pos_; }

 private:
  SecretBytes bytes_;
  size_t pos_ = 0;
};

// RandomBelow returns a uniformly distributed integer in [0, bound) drawn from
// `rng` by rejection sampling (4 bytes a draw). `bound` must not be 0.
uint32_t RandomBelow(Rng& rng, uint32_t bound);

}  // namespace velmo::crypto
