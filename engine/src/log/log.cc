#include "log/log.h"

#include <atomic>

namespace velmo::log {
namespace {

std::atomic<Sink> g_sink{nullptr};
std::atomic<Level> g_max_level{Level::kError};

}  // namespace

void SetSink(Sink sink, Level max_level) {
  g_max_level.store(max_level, std::memory_order_relaxed);
  g_sink.store(sink, std::memory_order_release);
}

bool Enabled(Level level) {
  return g_sink.load(std::memory_order_acquire) != nullptr &&
         level <= g_max_level.load(std::memory_order_relaxed);
}

void Write(Level level, std::string_view line) {
  Sink sink = g_sink.load(std::memory_order_acquire);
  if (sink != nullptr && level <= g_max_level.load(std::memory_order_relaxed)) {
    sink(level, line);
  }
}

}  // namespace velmo::log
