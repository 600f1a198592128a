// The clock of every bound stops while the machine sleeps: on Apple it reads
// CLOCK_UPTIME_RAW (mach_absolute_time), not the CLOCK_MONOTONIC_RAW
// (mach_continuous_time) that libc++'s steady_clock reads; elsewhere
// CLOCK_MONOTONIC, not CLOCK_BOOTTIME. Where the machine has slept since it
// started, the two kinds of clock differ, and only a reading of the right one
// falls between two readings of it.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include "platform/BoundClock.h"

namespace {

using tirsel::kvl::agent::driver::platform::BoundClock;

std::int64_t Nanoseconds(clockid_t id) {
    timespec now{};
    clock_gettime(id, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

#ifdef __APPLE__
constexpr clockid_t kStopsDuringSleep = CLOCK_UPTIME_RAW;
constexpr clockid_t kCountsSleep = CLOCK_MONOTONIC_RAW;
#else
constexpr clockid_t kStopsDuringSleep = CLOCK_MONOTONIC;
constexpr clockid_t kCountsSleep = CLOCK_BOOTTIME;
#endif

TEST(BoundClock, ReadsTheSystemClockThatStopsDuringSleep) {
    const std::int64_t before = Nanoseconds(kStopsDuringSleep);
    const std::int64_t reading = BoundClock::now().time_since_epoch().count();
    const std::int64_t after = Nanoseconds(kStopsDuringSleep);
    EXPECT_LE(before, reading);
    EXPECT_LE(reading, after);
    // Once the machine has slept a second, a reading of the clock that
    // counts sleep would be that second ahead.
    const std::int64_t slept = Nanoseconds(kCountsSleep) - Nanoseconds(kStopsDuringSleep);
    if (slept > 1000000000) {
        EXPECT_LT(reading, after + slept / 2);
    }
}

}  // namespace
