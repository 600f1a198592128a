#pragma once

#include <chrono>
#include <ctime>

namespace tirsel::kvl::agent::driver::platform {

// The clock every bound of a call is measured on: it stops while the machine
// sleeps, as poll's timeouts do (xnu's poll_nocancel, bsd/kern/sys_generic.c,
// sets its deadline with clock_interval_to_deadline, in mach_absolute_time
// units), so a Mac that sleeps in the middle of a call does not wake up past
// a bound that the tools never had the time to meet.
//
// std::chrono::steady_clock is no such clock on Apple: libc++ reads
// CLOCK_MONOTONIC_RAW there (llvm-project libcxx/src/chrono.cpp, "only
// CLOCK_MONOTONIC_RAW is truly monotonic, because it also counts cycles when
// the system is asleep"), which Libc maps to mach_continuous_time()
// (apple-oss-distributions/Libc gen/clock_gettime.c); CLOCK_UPTIME_RAW is
// mach_absolute_time(), which stops during sleep. Elsewhere CLOCK_MONOTONIC
// stops during suspend (Linux counts suspend only in CLOCK_BOOTTIME).
class BoundClock {
public:
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<BoundClock>;
    static constexpr bool is_steady = true;

#ifdef __APPLE__
    static constexpr clockid_t kId = CLOCK_UPTIME_RAW;
#else
    static constexpr clockid_t kId = CLOCK_MONOTONIC;
#endif

    static time_point now() noexcept;
};

}  // namespace tirsel::kvl::agent::driver::platform
