#include "bridge/worker_pool.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

namespace velmo::bridge {

WorkerPool::WorkerPool(size_t num_workers)
    : num_workers_(std::max<size_t>(num_workers, 1)),
      head_(&stub_),
      tail_(&stub_) {
  for (size_t i = 0; i < num_workers_; i++) {
    try {
      StartWorker();
    } catch (const std::system_error&) {
      if (i == 0) {
        throw;
      }
      break;  // fewer workers than processors still serve every job
    }
  }
}

WorkerPool::~WorkerPool() {
  // An empty job tells the worker that takes it to leave; queue order lets
  // every job submitted before run first.
  size_t workers = live_.load();
  for (size_t i = 0; i < workers; i++) {
    Submit(Job());
  }
  std::unique_lock<std::mutex> lock(exit_mutex_);
  exited_.wait(lock, [&] { return live_.load() == 0; });
  while (Node* node = TryPop()) {
    if (node != &stub_) {
      delete node;
    }
  }
}

void WorkerPool::Submit(Job job) {
  Node* node = new Node;
  node->job = std::move(job);
  submitted_.fetch_add(1, std::memory_order_relaxed);
  queued_.fetch_add(1, std::memory_order_acq_rel);
  Push(node);
  available_.release();
}

void WorkerPool::StartWorker() {
  live_.fetch_add(1);
  try {
    std::thread([this] { WorkerLoop(); }).detach();
  } catch (...) {
    ExitWorker();
    throw;
  }
}

void WorkerPool::ExitWorker() {
  std::lock_guard<std::mutex> lock(exit_mutex_);
  live_.fetch_sub(1);
  exited_.notify_all();
}

void WorkerPool::WorkerLoop() {
  for (;;) {
    Node* node;
    {
      std::lock_guard<std::mutex> lock(receive_mutex_);
      node = Take();
    }
    // Counted running before it stops counting as queued, so that both
    // reading zero means every job submitted so far has finished.
    running_.fetch_add(1, std::memory_order_acq_rel);
    queued_.fetch_sub(1, std::memory_order_acq_rel);
    Job job = std::move(node->job);
    delete node;
    if (!job) {
      running_.fetch_sub(1, std::memory_order_acq_rel);
      ExitWorker();
      return;
    }
    try {
      job();
    } catch (...) {
      // The job ended abnormally: this worker hands its place to a new one,
      // so the pool keeps its size.
      running_.fetch_sub(1, std::memory_order_acq_rel);
      try {
        StartWorker();
      } catch (...) {
        // No thread can be made now; the others carry on.
      }
      ExitWorker();
      return;
    }
    running_.fetch_sub(1, std::memory_order_acq_rel);
  }
}

void WorkerPool::Push(Node* node) {
  node->next.store(nullptr, std::memory_order_relaxed);
  Node* prev = head_.exchange(node, std::memory_order_acq_rel);
  prev->next.store(node, std::memory_order_release);
}

WorkerPool::Node* WorkerPool::Take() {
  available_.acquire();
  for (;;) {
    if (Node* node = TryPop()) {
      return node;
    }
    // A producer has swapped itself in but not linked its node yet; it is
    // one store away.
    std::this_thread::yield();
  }
}

WorkerPool::Node* WorkerPool::TryPop() {
  Node* tail = tail_;
  Node* next = tail->next.load(std::memory_order_acquire);
  if (tail == &stub_) {
    if (next == nullptr) {
      return nullptr;
    }
    tail_ = next;
    tail = next;
    next = next->next.load(std::memory_order_acquire);
  }
  if (next != nullptr) {
    tail_ = next;
    return tail;
  }
  if (tail != head_.load(std::memory_order_acquire)) {
    return nullptr;
  }
  // `tail` is the last node: put the stub behind it so it can be handed out.
  Push(&stub_);
  next = tail->next.load(std::memory_order_acquire);
  if (next != nullptr) {
    tail_ = next;
    return tail;
  }
  return nullptr;
}

}  // namespace velmo::bridge
