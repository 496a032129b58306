// The process-wide bridge state: made on first need, never destroyed.
#pragma once

#include "bridge/callbacks.h"
#include "bridge/worker_pool.h"

namespace velmo::bridge {

struct SharedState {
  explicit SharedState(size_t num_workers) : pool(num_workers) {}
  WorkerPool pool;
  CallbackTable callbacks;
};

// EnsureSharedState makes the state on the first call; a concurrent first
// caller waits until it is made. Throws when the pool cannot start.
SharedState& EnsureSharedState();

// SharedStateIfMade returns the state, or null before the first need.
SharedState* SharedStateIfMade();

}  // namespace velmo::bridge
