// The worker pool, its size from the control group, and the callback table.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge/callbacks.h"
#include "bridge/cpu_count.h"
#include "bridge/heap_bytes.h"
#include "bridge/shared_state.h"
#include "bridge/worker_pool.h"

namespace velmo::bridge {
namespace {

TEST(WorkerPool, JobsStartInQueueOrder) {
  std::vector<int> order;
  std::mutex mutex;
  {
    WorkerPool pool(1);
    for (int i = 0; i < 100; i++) {
      pool.Submit([&, i] {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(i);
      });
    }
  }  // the destructor lets the queue drain
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; i++) {
    EXPECT_EQ(order[i], i);
  }
}

TEST(WorkerPool, AWorkerWhoseJobThrowsIsReplaced) {
  // Declared before the pool, whose destructor waits for the jobs using them.
  std::latch both_running(2);
  std::latch done(2);
  WorkerPool pool(2);
  ASSERT_EQ(pool.num_workers(), 2u);
  for (int i = 0; i < 5; i++) {
    pool.Submit([] { throw std::runtime_error("job failed"); });
  }
  // Two jobs that can only finish while both run at once: the pool still
  // has two workers.
  for (int i = 0; i < 2; i++) {
    pool.Submit([&] {
      both_running.arrive_and_wait();
      done.count_down();
    });
  }
  done.wait();
  // A replaced worker starts its successor before it leaves; the count
  // settles back at two.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (pool.live_workers() != 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(pool.live_workers(), 2u);
}

TEST(WorkerPool, ManyProducersEveryJobRunsOnce) {
  constexpr int kProducers = 4;
  constexpr int kJobsEach = 5000;
  std::vector<std::atomic<int>> runs(kProducers * kJobsEach);
  {
    WorkerPool pool(3);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; p++) {
      producers.emplace_back([&, p] {
        for (int j = 0; j < kJobsEach; j++) {
          pool.Submit([&runs, k = p * kJobsEach + j] { runs[k]++; });
        }
      });
    }
    for (auto& t : producers) {
      t.join();
    }
  }
  for (const auto& r : runs) {
    ASSERT_EQ(r.load(), 1);
  }
}

// ---- Pool size from the control group.

class CgroupTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmo-cgroup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void Write(const std::string& path, const std::string& text) {
    std::filesystem::path full = root_ / path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full) << text;
  }

  std::filesystem::path root_;
};

TEST_F(CgroupTree, Version2QuotaRoundsUp) {
  Write("proc/self/cgroup", "0::/app.slice/velmo\n");
  Write("proc/self/mountinfo",
        "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n");
  Write("sys/fs/cgroup/app.slice/velmo/cpu.max", "150000 100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), 2u);
  // A tighter quota above the group wins.
  Write("sys/fs/cgroup/app.slice/cpu.max", "100000 100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), 1u);
}

TEST_F(CgroupTree, Version2WithoutQuota) {
  Write("proc/self/cgroup", "0::/\n");
  Write("proc/self/mountinfo",
        "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n");
  Write("sys/fs/cgroup/cpu.max", "max 100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), std::nullopt);
}

TEST_F(CgroupTree, Version1QuotaAndPeriod) {
  Write("proc/self/cgroup", "4:memory:/x\n3:cpu,cpuacct:/docker/abc\n0::/\n");
  Write("proc/self/mountinfo",
        "33 32 0:30 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup "
        "rw,cpu,cpuacct\n"
        "42 32 0:39 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");
  Write("sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "250000\n");
  Write("sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), 3u);
  Write("sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "-1\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), std::nullopt);
}

TEST_F(CgroupTree, Version1MountedAtTheGroupItself) {
  // Inside a container the group's own directory is mounted as the root.
  Write("proc/self/cgroup", "3:cpu:/docker/abc\n");
  Write("proc/self/mountinfo",
        "33 32 0:30 /docker/abc /sys/fs/cgroup/cpu ro - cgroup cgroup rw,cpu\n");
  Write("sys/fs/cgroup/cpu/cpu.cfs_quota_us", "50000\n");
  Write("sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), 1u);
}

TEST_F(CgroupTree, NothingReadableMeansNoLimit) {
  EXPECT_EQ(CgroupCpuLimit(root_.string()), std::nullopt);
  Write("proc/self/cgroup", "0::/\n");
  Write("proc/self/mountinfo",
        "30 23 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
  Write("sys/fs/cgroup/cpu.max", "garbage\n");
  EXPECT_EQ(CgroupCpuLimit(root_.string()), std::nullopt);
}

TEST(AvailableProcessors, AtLeastOne) {
  EXPECT_GE(AvailableProcessors(), 1u);
}

// ---- The pending-callback table.

Arguments Buffer(std::initializer_list<uint8_t> bytes) {
  uint8_t* data = AllocateZeroed(bytes.size());
  std::copy(bytes.begin(), bytes.end(), data);
  int32_t n = static_cast<int32_t>(bytes.size());
  return Arguments(data, n, n);
}

TEST(CallbackTable, DeliversToTheWaiterOnce) {
  CallbackTable table;
  auto waiter = table.Register(5);
  std::thread deliverer([&] { table.Deliver(5, Buffer({7, 0, 0, 0})); });
  Arguments result = waiter->Wait();
  deliverer.join();
  result.CheckLengths();
  uint32_t v = 0;
  ASSERT_TRUE(result.reader().ReadU32(&v));
  EXPECT_EQ(v, 7u);
  result.Finish();
  EXPECT_EQ(table.size(), 0u);
  // A second delivery for the same id finds no entry; the buffer is released.
  table.Deliver(5, Buffer({1}));
}

TEST(CallbackTable, WaiterGoneIsReportedLikeAFailedPost) {
  CallbackTable table;
  table.Register(7);  // dropped at once
  ::testing::internal::CaptureStdout();
  table.Deliver(7, Buffer({1, 2}));
  table.Deliver(8, Buffer({1}));  // no entry: silent
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error in dart_fn_handle_output when sending message for call_id "
            "7: the waiting call has gone away\n");
}

}  // namespace
}  // namespace velmo::bridge
