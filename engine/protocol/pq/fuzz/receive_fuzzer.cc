// Receive over arbitrary state bytes and arbitrary message bytes: it must
// fail cleanly or hand back a state that loads and works again.
#include <cstdlib>

#include "fuzz/input.h"
#include "protocol/pq/ratchet.h"
#include "protocol/pq/records.h"

namespace {

using velmo::pq::PqRatchetStateRecord;

// A session with oneself may jump up to 2^32 - 1 keys ahead, by design; one
// such input would keep the fuzzer busy for hours, so states allowing jumps
// beyond a million are passed over. Smaller limits are fuzzed like any other.
bool AllowsHugeJumps(velmo::crypto::ByteView state) {
  constexpr uint32_t kMaxFuzzedJump = 1000000;
  PqRatchetStateRecord r;
  if (!velmo::pq::Decode(state, &r)) {
    return false;
  }
  auto huge = [](const auto& params) {
    return params && params->max_jump > kMaxFuzzedJump;
  };
  return (r.chain && huge(r.chain->params)) ||
         (r.version_negotiation && huge(r.version_negotiation->chain_params));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmo::pq::fuzz::Input in = velmo::pq::fuzz::Split({data, size});
  if (AllowsHugeJumps(in.state)) {
    return 0;
  }
  velmo::pq::Result<velmo::pq::ReceiveResult> got =
      velmo::pq::Receive(in.state, in.message);
  if (!got.ok()) {
    return 0;
  }
  PqRatchetStateRecord r;
  if (!velmo::pq::Decode(got->state, &r)) {
    abort();  // a state we wrote must read back
  }
  velmo::crypto::SeededRng rng(uint64_t{1});
  (void)velmo::pq::Receive(got->state, in.message);
  (void)velmo::pq::Send(got->state, rng);
  return 0;
}
