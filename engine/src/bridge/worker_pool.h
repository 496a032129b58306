// A fixed pool of worker threads sharing one first-in-first-out job queue.
// The sending end takes no lock: jobs are linked in with one atomic
// exchange. Workers take turns at the receiving end under a mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <semaphore>

namespace velmo::bridge {

class WorkerPool {
 public:
  using Job = std::function<void()>;

  // Starts `num_workers` threads (at least one). Throws std::system_error
  // when not even the first can be started.
  explicit WorkerPool(size_t num_workers);
  // The engine's pool lives until the process ends; destroying one is only
  // for tests and waits for its queue to drain.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Submit queues `job`; jobs start in queue order. A job that throws ends
  // its worker, which is replaced. Throws std::bad_alloc.
  void Submit(Job job);

  size_t num_workers() const { return num_workers_; }
  size_t submitted() const {
    return submitted_.load(std::memory_order_relaxed);
  }
  size_t queued() const { return queued_.load(std::memory_order_acquire); }
  size_t running() const { return running_.load(std::memory_order_acquire); }
  // live_workers counts worker threads now running their loop.
  size_t live_workers() const { return live_.load(std::memory_order_relaxed); }

 private:
  struct Node {
    std::atomic<Node*> next{nullptr};
    Job job;
  };

  void StartWorker();
  void WorkerLoop();
  void ExitWorker();
  void Push(Node* node);
  Node* Take();      // blocks; caller holds receive_mutex_
  Node* TryPop();    // caller holds receive_mutex_

  const size_t num_workers_;
  // Producers swap themselves in at head_; the one consumer at a time walks
  // from tail_ (intrusive multi-producer queue with a stub node).
  std::atomic<Node*> head_;
  Node* tail_;
  Node stub_;
  std::mutex receive_mutex_;
  std::counting_semaphore<> available_{0};
  std::atomic<size_t> submitted_{0};
  std::atomic<size_t> queued_{0};
  std::atomic<size_t> running_{0};
  std::atomic<size_t> live_{0};
  // Only the test-time destructor waits on these, for workers to leave.
  std::mutex exit_mutex_;
  std::condition_variable exited_;
};

}  // namespace velmo::bridge
