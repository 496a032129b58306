// Reading and writing session records. Reports MB/s of record bytes.
#include <benchmark/benchmark.h>

#include "protocol/bench/realistic_records.h"
#include "protocol/records.h"

namespace velmo::proto::bench {
namespace {

void RunRead(benchmark::State& state, const RecordShape& shape) {
  SecretBytes bytes = Encode(RealisticRecord(1, shape));
  for (auto _ : state) {
    Result<RecordStructure> record = ReadSessionRecord(bytes);
    benchmark::DoNotOptimize(record);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["record_KiB"] = static_cast<double>(bytes.size()) / 1024;
}

void BM_ReadRealisticRecord(benchmark::State& state) { RunRead(state, {}); }
BENCHMARK(BM_ReadRealisticRecord);

// Every chain at its limit of kept keys: the most the current state holds.
void BM_ReadFullChainsRecord(benchmark::State& state) {
  RunRead(state, {.archived_states = 40, .kept_keys_per_chain = kMaxMessageKeys});
}
BENCHMARK(BM_ReadFullChainsRecord);

// The same without archived states: all of it is decoded field by field.
void BM_ReadFullChainsCurrentOnly(benchmark::State& state) {
  RunRead(state, {.archived_states = 0, .kept_keys_per_chain = kMaxMessageKeys});
}
BENCHMARK(BM_ReadFullChainsCurrentOnly);

void BM_WriteRealisticRecord(benchmark::State& state) {
  RecordStructure record = RealisticRecord(1);
  size_t size = 0;
  for (auto _ : state) {
    SecretBytes bytes = Encode(record);
    size = bytes.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_WriteRealisticRecord);

}  // namespace
}  // namespace velmo::proto::bench
