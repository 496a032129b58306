#include "bridge/shared_state.h"

#include <atomic>

#include "bridge/cpu_count.h"

namespace velmo::bridge {
namespace {

std::atomic<SharedState*> g_state{nullptr};

SharedState* MakeSharedState() {
  // Deliberately leaked: workers may still be running when the process
  // exits, and nothing may be torn down under them.
  auto* state = new SharedState(AvailableProcessors());
  g_state.store(state, std::memory_order_release);
  return state;
}

}  // namespace

SharedState& EnsureSharedState() {
  static SharedState* const state = MakeSharedState();
  return *state;
}

SharedState* SharedStateIfMade() {
  return g_state.load(std::memory_order_acquire);
}

}  // namespace velmo::bridge
