#include "bridge/callbacks.h"

#include <string>
#include <utility>

#include "bridge/post.h"

namespace velmo::bridge {

Arguments CallbackWaiter::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait(lock, [&] { return result_.has_value(); });
  Arguments out(std::move(*result_));
  result_.reset();
  return out;
}

void CallbackWaiter::Fulfil(Arguments result) {
  std::lock_guard<std::mutex> lock(mutex_);
  result_.emplace(std::move(result));
  ready_.notify_all();
}

std::shared_ptr<CallbackWaiter> CallbackTable::Register(int32_t call_id) {
  auto waiter = std::make_shared<CallbackWaiter>();
  std::lock_guard<std::mutex> lock(mutex_);
  pending_[call_id] = waiter;
  return waiter;
}

void CallbackTable::Deliver(int32_t call_id, Arguments output) {
  std::weak_ptr<CallbackWaiter> entry;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(call_id);
    if (it != pending_.end()) {
      entry = std::move(it->second);
      pending_.erase(it);
      found = true;
    }
  }
  // The table's lock is released before the waiter's is taken.
  if (!found) {
    return;  // `output` is released on return
  }
  std::shared_ptr<CallbackWaiter> waiter = entry.lock();
  if (waiter == nullptr) {
    EmitWarning(
        "Error in dart_fn_handle_output when sending message for call_id " +
        std::to_string(call_id) + ": the waiting call has gone away");
    return;
  }
  waiter->Fulfil(std::move(output));
}

size_t CallbackTable::size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

}  // namespace velmo::bridge
