// Building the protocol stores from a StoreSnapshot as the bridge hands it
// in: the bridge decoding of the snapshot plus the parse of every record in
// it. MB/s are of snapshot bytes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "api/protocol/store_frame.h"
#include "api/protocol/key_material.h"
#include "bridge/codec.h"
#include "protocol/bench/realistic_records.h"

namespace velmo::api {
namespace {

// A snapshot holding `n` realistic sessions with their peers' identity keys,
// a hundred one-time pre-keys and a signed pre-key, bridge-encoded.
std::vector<uint8_t> EncodedSnapshot(size_t n) {
  crypto::SeededRng rng(1);
  StoreSnapshot s;
  s.identity_key_pair = keys::GenerateIdentityKeyPair(rng).key_pair;
  s.registration_id = 1234;
  for (size_t i = 0; i < n; i++) {
    PeerAddress address{"user" + std::to_string(i), 1};
    s.sessions.push_back({address, proto::Encode(proto::bench::RealisticRecord(i))});
    SecretBytes key(33, static_cast<uint8_t>(i));
    key[0] = 0x05;
    s.identities.push_back({address, std::move(key)});
  }
  Outcome<std::vector<GeneratedPreKey>> pre_keys = keys::GeneratePreKeys(1, 100, rng);
  for (const GeneratedPreKey& key : pre_keys.value()) {
    s.pre_keys.push_back({key.id, key.record});
  }
  GeneratedPreKey signed_key =
      keys::GenerateSignedPreKey(s.identity_key_pair, 1, 1, rng).value();
  s.signed_pre_keys.push_back({1, signed_key.record});
  bridge::ByteWriter w;
  bridge::Write(w, s);
  return std::vector<uint8_t>(w.view().begin(), w.view().end());
}

double MaxRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
}

void BM_SnapshotDecodeAndBuild(benchmark::State& state) {
  std::vector<uint8_t> bytes = EncodedSnapshot(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    bridge::ByteReader reader(bytes);
    StoreSnapshot snapshot;
    if (!bridge::Read(reader, &snapshot) || !reader.at_end()) {
      state.SkipWithError("snapshot did not decode");
      break;
    }
    Outcome<store::ProtocolStores> stores = BuildStores(std::move(snapshot));
    if (!stores.ok()) {
      state.SkipWithError(stores.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(stores);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["snapshot_MiB"] = static_cast<double>(bytes.size()) / (1 << 20);
  state.counters["max_rss_MiB"] = MaxRssMiB();
}
BENCHMARK(BM_SnapshotDecodeAndBuild)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmo::api
