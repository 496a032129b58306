// What the session steps take from outside the call: randomness and the
// wall-clock time. Operations pass the thread's generator and the system
// clock; tests pass their own to reproduce a run or to move time on.
#pragma once

#include <cstdint>

#include "crypto/random.h"

namespace velmo::api {

struct StepContext {
  crypto::Rng& rng;
  uint64_t now_seconds;  // since the Unix epoch

  // System is the thread's generator and the current system time.
  static StepContext System();
};

}  // namespace velmo::api
