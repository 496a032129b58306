#include "crypto/clock.h"

namespace velmo::crypto {
namespace {
timespec Now() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return t;
}
}  // namespace

uint64_t UnixMillis(const timespec& t) {
  if (t.tv_sec < 0) {
    return 0;  // tv_nsec is never negative, so only the seconds can be
  }
  return static_cast<uint64_t>(t.tv_sec) * 1000 +
         static_cast<uint64_t>(t.tv_nsec) / 1000000;
}

uint64_t NowUnixMillis() { return UnixMillis(Now()); }

uint64_t NowUnixSeconds() {
  timespec t = Now();
  return t.tv_sec < 0 ? 0 : static_cast<uint64_t>(t.tv_sec);
}

}  // namespace velmo::crypto
