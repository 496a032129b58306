// Several Dart-side threads at once, from the very first call: the one-time
// state creation, the pool's queue, posting and the finalizers. Run under
// ThreadSanitizer, and under AddressSanitizer for the leak check.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "tests/dart_vm_fake.h"
#include "velmo_core.h"

namespace velmo {
namespace {

using testing::CallSync;
using testing::FakeVm;
using testing::MakeArguments;
using testing::Posted;
using Raw = std::vector<uint8_t>;

constexpr int kThreads = 4;
constexpr int kCallsEach = 2000;

int64_t PortFor(int thread, int call) {
  return 1000000 + thread * kCallsEach + call;
}

TEST(BridgeConcurrency, EveryAsyncReplyArrivesOnceOnItsOwnPort) {
  FakeVm vm;
  std::atomic<int> ready{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; t++) {
    callers.emplace_back([&, t] {
      // Start together, so the first calls race for the shared state.
      ready++;
      while (ready.load() < kThreads) {
        std::this_thread::yield();
      }
      for (int i = 0; i < kCallsEach; i++) {
        testing::CallerBuffer in = MakeArguments({});
        engine_dispatch_async(20 + (i % 2), PortFor(t, i), in.data, in.cap,
                              in.len);
        if (i % 50 == 0) {
          // Synchronous calls run meanwhile on the same threads.
          EXPECT_EQ(CallSync(1, Raw{1, 0, 0, 0, 0x44}), (Raw{0, 4}));
        }
        if (i % 500 == 0) {
          // The finalizers run on the VM's threads while workers post.
          vm.Collect();
        }
      }
    });
  }
  for (auto& c : callers) {
    c.join();
  }
  ASSERT_TRUE(vm.WaitForPosts(kThreads * kCallsEach));

  std::map<int64_t, Raw> by_port;
  for (const Posted& p : vm.posts()) {
    auto [it, fresh] = by_port.emplace(p.port, p.bytes);
    EXPECT_TRUE(fresh) << "second reply on port " << p.port;
  }
  ASSERT_EQ(by_port.size(), static_cast<size_t>(kThreads * kCallsEach));
  for (int t = 0; t < kThreads; t++) {
    for (int i = 0; i < kCallsEach; i++) {
      const Raw& reply = by_port[PortFor(t, i)];
      ASSERT_EQ(reply, Raw(i % 2 == 0 ? 33 : 29, 0)) << "port "
                                                     << PortFor(t, i);
    }
  }
  vm.Collect();  // every reply's bytes go back through the finalizer
}

TEST(BridgeConcurrency, CallbackOutputRacesWithDispatch) {
  FakeVm vm;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; i++) {
        // No waiter is registered: each buffer is simply released.
        testing::CallerBuffer in = MakeArguments(Raw{1, 2, 3});
        engine_deliver_callback_output(t * 1000 + i, in.data, in.cap, in.len);
        EXPECT_EQ(CallSync(1, Raw{1, 0, 0, 0, 0x33}), (Raw{0, 3}));
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
}

}  // namespace
}  // namespace velmo
