// The per-thread generators under concurrent use (also run under
// ThreadSanitizer): no shared state, no repeated output.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "crypto/random.h"
#include "crypto/x25519.h"

namespace velmo::crypto {
namespace {

TEST(RandomThreads, EveryThreadDrawsItsOwnStream) {
  constexpr int kThreads = 8, kDraws = 200;
  std::mutex mu;
  std::set<std::string> seen;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      std::vector<std::string> mine;
      for (int i = 0; i < kDraws; ++i) {
        uint8_t b[16];
        ThreadRng().Fill(b);
        mine.emplace_back(reinterpret_cast<char*>(b), sizeof(b));
      }
      // Key generation from the same thread's source works alongside.
      KeyPair kp = KeyPair::Generate(ThreadRng());
      mine.emplace_back(reinterpret_cast<const char*>(kp.public_key.bytes().data()), 32);
      std::lock_guard<std::mutex> lock(mu);
      seen.insert(mine.begin(), mine.end());
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * (kDraws + 1)));
}

TEST(RandomThreads, LargeRequestsCrossTheBuffer) {
  std::vector<uint8_t> a(5000), b(5000);
  ThreadRng().Fill(a);
  ThreadRng().Fill(b);
  EXPECT_NE(a, b);
  EXPECT_NE(a, std::vector<uint8_t>(5000, 0));
}

}  // namespace
}  // namespace velmo::crypto
