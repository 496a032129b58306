// Cost of one send or receive step of the ratchet, as the session layer pays
// it (state decoded and encoded around the step), for a message carrying a
// chunk and for each step that runs ML-KEM; beside it the bare ML-KEM call
// the step is built on. Counters: the state's size and the heap bytes one
// step allocates.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/pq/message.h"
#include "tests/conversation.h"

namespace {

std::atomic<size_t> g_allocated{0};

}  // namespace

void* operator new(size_t n) {
  g_allocated.fetch_add(n, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) {
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace velmo::pq {
namespace {

using testing::Conversation;

// One step of a lossless conversation as seen from both ends.
struct Step {
  int from;
  SecretBytes sender_before;
  std::string sender_state;
  SecretBytes receiver_before;
  std::string receiver_state;
  std::string receiver_after;
  Bytes message;
};

const std::vector<Step>& Steps() {
  static const std::vector<Step>* steps = [] {
    auto* out = new std::vector<Step>;
    Conversation c(77);
    for (int i = 0; i < 600; i++) {
      const int from = i % 2;
      Step s{from, c.state(from), std::string(c.state_name(from)),
             c.state(1 - from), std::string(c.state_name(1 - from)), {}, {}};
      s.message = c.Exchange(from).message;
      s.receiver_after = c.state_name(1 - from);
      out->push_back(std::move(s));
    }
    return out;
  }();
  return *steps;
}

// The first step (past epoch 1, so that the chain has some history) whose
// sender or receiver is in the named state.
const Step& FindStep(bool by_sender, std::string_view state,
                     std::string_view receiver_after = {}) {
  for (const Step& s : Steps()) {
    if (EpochOf(testing::InnerOf(s.sender_before)) < 2) continue;
    const std::string& name = by_sender ? s.sender_state : s.receiver_state;
    if (name == state &&
        (receiver_after.empty() || s.receiver_after == receiver_after)) {
      return s;
    }
  }
  throw std::logic_error("no such step: " + std::string(state));
}

void Report(benchmark::State& bench, ByteView state, size_t allocated) {
  bench.counters["state_bytes"] = static_cast<double>(state.size());
  bench.counters["heap_bytes_per_step"] = benchmark::Counter(
      static_cast<double>(allocated), benchmark::Counter::kAvgIterations);
}

void RunSend(benchmark::State& bench, const Step& s) {
  crypto::SeededRng rng(1);
  const size_t before = g_allocated.load();
  for (auto _ : bench) {
    Result<SendResult> r = Send(s.sender_before, rng);
    benchmark::DoNotOptimize(r);
  }
  Report(bench, s.sender_before, g_allocated.load() - before);
}

void RunReceive(benchmark::State& bench, const Step& s) {
  const size_t before = g_allocated.load();
  for (auto _ : bench) {
    Result<ReceiveResult> r = Receive(s.receiver_before, s.message);
    if (!r.ok()) bench.SkipWithError(r.error().message.c_str());
    benchmark::DoNotOptimize(r);
  }
  Report(bench, s.receiver_before, g_allocated.load() - before);
}

// A chunk of the encapsulation-key vector, out and in.
void BM_SendChunk(benchmark::State& b) { RunSend(b, FindStep(true, "HeaderSent")); }
void BM_ReceiveChunk(benchmark::State& b) {
  RunReceive(b, FindStep(false, "Ct1Sampled", "Ct1Sampled"));
}

// The four steps that run ML-KEM.
void BM_SendKeyGeneration(benchmark::State& b) {
  RunSend(b, FindStep(true, "KeysUnsampled"));
}
void BM_SendFirstEncapsulation(benchmark::State& b) {
  RunSend(b, FindStep(true, "HeaderReceived"));
}
void BM_ReceiveSecondEncapsulation(benchmark::State& b) {
  RunReceive(b, FindStep(false, "Ct1Acknowledged", "Ct2Sampled"));
}
void BM_ReceiveDecapsulation(benchmark::State& b) {
  RunReceive(b, FindStep(false, "EkSentCt1Received", "NoHeaderReceived"));
}

// The bare ML-KEM calls, the floor under the four steps above.
void BM_MlKemKeyGen(benchmark::State& b) {
  const crypto::SecretArray<kem::kSeedBytes> seed;
  for (auto _ : b) {
    benchmark::DoNotOptimize(kem::KeyGen(seed));
  }
}
void BM_MlKemFirstStep(benchmark::State& b) {
  const kem::KeyPair kp = kem::KeyGen(crypto::SecretArray<64>()).value();
  const kem::Header hdr = kem::HeaderOf(kp.ek);
  const crypto::SecretArray<kem::kMessageBytes> m;
  for (auto _ : b) {
    benchmark::DoNotOptimize(kem::EncapsulateFirstStep(hdr, m));
  }
}
void BM_MlKemSecondStep(benchmark::State& b) {
  const kem::KeyPair kp = kem::KeyGen(crypto::SecretArray<64>()).value();
  const kem::Header hdr = kem::HeaderOf(kp.ek);
  const kem::FirstStep first =
      kem::EncapsulateFirstStep(hdr, crypto::SecretArray<32>()).value();
  for (auto _ : b) {
    benchmark::DoNotOptimize(kem::VectorMatchesHeader(kem::VectorOf(kp.ek), hdr));
    benchmark::DoNotOptimize(
        kem::EncapsulateSecondStep(first.state, kem::VectorOf(kp.ek)));
  }
}
void BM_MlKemDecapsulate(benchmark::State& b) {
  const kem::KeyPair kp = kem::KeyGen(crypto::SecretArray<64>()).value();
  const kem::Ciphertext ct{};
  for (auto _ : b) {
    benchmark::DoNotOptimize(kem::Decapsulate(kp.dk, ct));
  }
}

BENCHMARK(BM_SendChunk);
BENCHMARK(BM_ReceiveChunk);
BENCHMARK(BM_SendKeyGeneration);
BENCHMARK(BM_SendFirstEncapsulation);
BENCHMARK(BM_ReceiveSecondEncapsulation);
BENCHMARK(BM_ReceiveDecapsulation);
BENCHMARK(BM_MlKemKeyGen);
BENCHMARK(BM_MlKemFirstStep);
BENCHMARK(BM_MlKemSecondStep);
BENCHMARK(BM_MlKemDecapsulate);

}  // namespace
}  // namespace velmo::pq
