// The pending-callback table: engine-side waiters for results of Dart
// callbacks, by call id. No operation of this engine calls back into Dart, so
// in practice the table stays empty; the entry point that feeds it exists for
// the Dart side's bindings.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "bridge/arguments.h"

namespace velmo::bridge {

// CallbackWaiter receives one callback's encoded result.
class CallbackWaiter {
 public:
  // Wait blocks until the result is handed over and returns it.
  Arguments Wait();
  void Fulfil(Arguments result);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::optional<Arguments> result_;
};

class CallbackTable {
 public:
  // Register makes the waiter for `call_id`; the table holds it weakly, so a
  // waiter its owner drops is gone.
  std::shared_ptr<CallbackWaiter> Register(int32_t call_id);

  // Deliver hands `output` to the waiter registered under `call_id`. Without
  // an entry the buffer is released; with a waiter that has gone away it is
  // released and the failure is reported like a failed post.
  void Deliver(int32_t call_id, Arguments output);

  size_t size();

 private:
  std::mutex mutex_;
  std::unordered_map<int32_t, std::weak_ptr<CallbackWaiter>> pending_;
};

}  // namespace velmo::bridge
