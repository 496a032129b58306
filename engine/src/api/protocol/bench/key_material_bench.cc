// Key material generation: 100 one-time pre-keys and 10 Kyber pre-keys per
// iteration, reported also per key ("per_key").
#include <benchmark/benchmark.h>

#include "api/protocol/key_material.h"

namespace velmo::api {
namespace {

void PerKey(benchmark::State& state, int keys_per_iteration) {
  state.counters["per_key"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * keys_per_iteration,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Generate100PreKeys(benchmark::State& state) {
  crypto::Rng& rng = crypto::ThreadRng();
  for (auto _ : state) {
    auto keys = keys::GeneratePreKeys(1, 100, rng);
    benchmark::DoNotOptimize(keys);
  }
  PerKey(state, 100);
}
BENCHMARK(BM_Generate100PreKeys)->Unit(benchmark::kMillisecond);

void BM_Generate10KyberPreKeys(benchmark::State& state) {
  crypto::Rng& rng = crypto::ThreadRng();
  GeneratedIdentityKeyPair identity = keys::GenerateIdentityKeyPair(rng);
  for (auto _ : state) {
    auto keys = keys::GenerateKyberPreKeys(identity.key_pair, 1, 10, 1, rng);
    benchmark::DoNotOptimize(keys);
  }
  PerKey(state, 10);
}
BENCHMARK(BM_Generate10KyberPreKeys)->Unit(benchmark::kMillisecond);

void BM_GenerateSignedPreKey(benchmark::State& state) {
  crypto::Rng& rng = crypto::ThreadRng();
  GeneratedIdentityKeyPair identity = keys::GenerateIdentityKeyPair(rng);
  for (auto _ : state) {
    auto key = keys::GenerateSignedPreKey(identity.key_pair, 1, 1, rng);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_GenerateSignedPreKey)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velmo::api
