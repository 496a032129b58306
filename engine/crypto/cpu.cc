#include "crypto/cpu.h"

#include <atomic>

namespace velmo::crypto::internal {
namespace {
const bool kCpuHasAvx2 = __builtin_cpu_supports("avx2");
std::atomic<bool> g_force_portable{false};
}  // namespace

bool UseAvx2() {
  return kCpuHasAvx2 && !g_force_portable.load(std::memory_order_relaxed);
}

void ForcePortableForTesting(bool portable) {
  g_force_portable.store(portable, std::memory_order_relaxed);
}

}  // namespace velmo::crypto::internal
