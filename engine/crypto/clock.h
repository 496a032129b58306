// Wall-clock times as the records store them.
#pragma once

#include <cstdint>
#include <ctime>

namespace velmo::crypto {

// UnixMillis is whole seconds × 1000 plus the sub-second nanoseconds divided
// by 1,000,000 (rounded down); a time before the epoch gives 0.
uint64_t UnixMillis(const timespec& t);

// The system clock, in milliseconds and in whole seconds since the epoch
// (0 when the clock is set before 1970).
uint64_t NowUnixMillis();
uint64_t NowUnixSeconds();

}  // namespace velmo::crypto
