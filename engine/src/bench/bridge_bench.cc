// The bridge's own cost: a synchronous call of operation 1 through the real
// libvelmo_core (argument buffer, dispatch, reply, free) beside the operation
// alone, and asynchronous throughput through the worker pool.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstring>

#include "api/standalone_operations.h"
#include "velmo_core.h"

namespace {

const uint8_t kArgs[] = {1, 0, 0, 0, 0x33};

size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// The operation by itself, as its handler receives it.
void BM_CiphertextVersionAlone(benchmark::State& state) {
  for (auto _ : state) {
    velmo::api::Outcome<uint8_t> out = velmo::api::CiphertextVersion(
        velmo::crypto::Bytes(kArgs + 4, kArgs + 5));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_CiphertextVersionAlone);

// What the Dart side pays per call: allocate and fill the argument buffer,
// dispatch, read the reply, free it.
void BM_SyncRoundTrip(benchmark::State& state) {
  size_t heap_before = HeapInUse();
  for (auto _ : state) {
    uint8_t* args = engine_bytes_new(sizeof(kArgs));
    std::memcpy(args, kArgs, sizeof(kArgs));
    EngineSyncReply reply =
        engine_dispatch_sync(1, args, sizeof(kArgs), sizeof(kArgs));
    benchmark::DoNotOptimize(reply.data[1]);
    engine_free_sync_reply(reply.data, reply.len);
  }
  state.counters["heap_growth_bytes"] =
      static_cast<double>(HeapInUse()) - static_cast<double>(heap_before);
}
BENCHMARK(BM_SyncRoundTrip);

std::atomic<int64_t> g_replies{0};

// Plays the VM: takes the reply and collects it at once.
bool CountingPost(int64_t, EngineDartMessage* message) {
  // The external typed data's peer sits at offset 32, its finalizer at 40.
  auto* m = reinterpret_cast<uint8_t*>(message);
  void* peer;
  void (*callback)(void*, void*);
  std::memcpy(&peer, m + 32, sizeof(peer));
  std::memcpy(&callback, m + 40, sizeof(callback));
  callback(nullptr, peer);
  g_replies.fetch_add(1, std::memory_order_release);
  g_replies.notify_one();
  return true;
}

// Calls per second through engine_dispatch_async, each reply posted and
// collected; one iteration is a batch of `state.range(0)` calls.
void BM_AsyncThroughput(benchmark::State& state) {
  engine_set_post_function(&CountingPost);
  const int64_t batch = state.range(0);
  size_t heap_before = HeapInUse();
  for (auto _ : state) {
    int64_t target = g_replies.load() + batch;
    for (int64_t i = 0; i < batch; i++) {
      engine_dispatch_async(20, i + 1, engine_bytes_new(0), 0, 0);
    }
    for (int64_t seen = g_replies.load(); seen < target;
         seen = g_replies.load(std::memory_order_acquire)) {
      g_replies.wait(seen);
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  state.counters["heap_growth_bytes"] =
      static_cast<double>(HeapInUse()) - static_cast<double>(heap_before);
  engine_set_post_function(nullptr);
}
BENCHMARK(BM_AsyncThroughput)->Arg(1000)->UseRealTime();

}  // namespace
