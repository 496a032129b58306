#include "crypto/clock.h"

#include <gtest/gtest.h>

namespace velmo::crypto {
namespace {

TEST(Clock, MillisecondsRoundDownAndClampBeforeEpoch) {
  struct Case {
    time_t sec;
    long nsec;
    uint64_t want;
  } cases[] = {
      {0, 0, 0},
      {1, 999999, 1000},
      {1, 1000000, 1001},
      {1700000000, 999999999, 1700000000999},
      {-1, 999999999, 0},  // 1 ns before the epoch
      {-86400, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnixMillis(timespec{c.sec, c.nsec}), c.want) << c.sec << "." << c.nsec;
  }
  uint64_t s = NowUnixSeconds(), ms = NowUnixMillis();
  EXPECT_GT(s, 1600000000u);
  EXPECT_GE(ms / 1000, s);
}

}  // namespace
}  // namespace velmo::crypto
