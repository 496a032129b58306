#include "crypto/random.h"

#include <pthread.h>
#include <sodium.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "crypto/sha2.h"
#include "crypto/sodium_init.h"

namespace velmo::crypto {
namespace {

// Bumped in the child after fork(), so that no two processes continue the
// same stream: every thread's generator notices and re-keys.
std::atomic<uint64_t> g_fork_generation{0};

void OnForkChild() {
  g_fork_generation.fetch_add(1, std::memory_order_relaxed);
}

void ReadOsEntropy(uint8_t* out, size_t len) {
  while (len > 0) {
    ssize_t n = getrandom(out, len, 0);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw RandomSourceError("the operating system's random source failed");
    }
    out += n;
    len -= static_cast<size_t>(n);
  }
}

// Fast-key-erasure generator: each refill makes one ChaCha20 output block
// run; its first 32 bytes replace the key at once and the rest is handed out
// (and wiped as it goes), so a later compromise of the state reveals nothing
// already returned.
class ThreadGenerator final : public Rng {
 public:
  void Fill(std::span<uint8_t> out) override {
    uint64_t generation = g_fork_generation.load(std::memory_order_relaxed);
    if (!keyed_ || generation != generation_) {
      Rekey(generation);
    }
    while (!out.empty()) {
      if (pos_ == kBufferBytes) {
        Refill();
      }
      size_t take = std::min(out.size(), kBufferBytes - pos_);
      std::memcpy(out.data(), buffer_.data() + pos_, take);
      secure_wipe(buffer_.data() + pos_, take);
      pos_ += take;
      out = out.subspan(take);
    }
  }

 private:
  static constexpr size_t kBufferBytes = 512;

  void Rekey(uint64_t generation) {
    ReadOsEntropy(key_.data(), key_.size());
    keyed_ = true;
    generation_ = generation;
    Refill();
  }

  void Refill() {
    static const uint8_t kNonce[crypto_stream_chacha20_NONCEBYTES] = {};
    SecretArray<32 + kBufferBytes> run;
    crypto_stream_chacha20(run.data(), run.size(), kNonce, key_.data());
    std::memcpy(key_.data(), run.data(), 32);
    std::memcpy(buffer_.data(), run.data() + 32, kBufferBytes);
    pos_ = 0;
  }

  SecretArray<32> key_;
  SecretArray<kBufferBytes> buffer_;
  size_t pos_ = kBufferBytes;
  bool keyed_ = false;
  uint64_t generation_ = 0;
};

}  // namespace

Rng& ThreadRng() {
  static std::once_flag fork_hook;
  std::call_once(fork_hook, [] {
    EnsureSodium();
    pthread_atfork(nullptr, nullptr, OnForkChild);
  });
  thread_local ThreadGenerator generator;
  return generator;
}

SeededRng::SeededRng(ByteView seed) {
  EnsureSodium();
  Sha256Digest digest = Sha256(seed);
  std::memcpy(key_.data(), digest.data(), 32);
  secure_wipe(digest.data(), digest.size());
}

SeededRng::SeededRng(uint64_t seed) {
  uint8_t le[8];
  for (int i = 0; i < 8; ++i) {
    le[i] = static_cast<uint8_t>(seed >> (8 * i));
  }
  *this = SeededRng(ByteView(le, 8));
}

void SeededRng::Fill(std::span<uint8_t> out) {
  static const uint8_t kNonce[crypto_stream_chacha20_NONCEBYTES] = {};
  while (!out.empty()) {
    if (used_ == block_.size()) {
      std::memset(block_.data(), 0, block_.size());
      crypto_stream_chacha20_xor_ic(block_.data(), block_.data(), block_.size(),
                                    kNonce, counter_++, key_.data());
      used_ = 0;
    }
    size_t take = std::min(out.size(), block_.size() - used_);
    std::memcpy(out.data(), block_.data() + used_, take);
    used_ += take;
    out = out.subspan(take);
  }
}

ScriptedRng::ScriptedRng(ByteView bytes) : bytes_(bytes.begin(), bytes.end()) {}

void ScriptedRng::Fill(std::span<uint8_t> out) {
  if (out.size() > remaining()) {
    throw std::logic_error("ScriptedRng: script exhausted");
  }
  std::memcpy(out.data(), bytes_.data() + pos_, out.size());
  pos_ += out.size();
}

uint32_t RandomBelow(Rng& rng, uint32_t bound) {
  // Draws at or above the largest multiple of `bound` would favour small
  // results; they are drawn again.
  const uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
  for (;;) {
    uint8_t b[4];
    rng.Fill(b);
    uint32_t v = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                 uint32_t{b[3]} << 24;
    if (v < limit) {
      return v % bound;
    }
  }
}

}  // namespace velmo::crypto
