#include "platform/BoundClock.h"

namespace tirsel::kvl::agent::driver::platform {

BoundClock::time_point BoundClock::now() noexcept {
    timespec now{};
    // Cannot fail for a clock id the system defines.
    clock_gettime(kId, &now);
    return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace tirsel::kvl::agent::driver::platform
