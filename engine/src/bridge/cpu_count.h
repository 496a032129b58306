// How many processors this process may use: the worker pool's size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velmo::bridge {

// CgroupCpuLimit reads the CPU quota of the process's control group and the
// groups above it (version 2 "cpu.max", version 1 "cpu.cfs_quota_us" and
// "cpu.cfs_period_us") and returns the smallest quota divided by its period,
// rounded up; nothing when no group sets a quota. `root` prefixes the paths
// read ("/proc/self/cgroup", "/proc/self/mountinfo" and the group files), so
// tests can point it at a made-up tree.
std::optional<size_t> CgroupCpuLimit(const std::string& root = "/");

// AvailableProcessors is the cgroup limit, else the number of processors in
// the calling thread's affinity mask, else the number online; at least 1.
size_t AvailableProcessors();

}  // namespace velmo::bridge
