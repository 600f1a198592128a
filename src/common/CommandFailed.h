#pragma once

#include <stdexcept>
#include <string>

namespace tirsel::kvl::agent::driver::common {

// A command of the fallback sources did not run to a usable end (not
// started, killed, past a bound, or exit status 2 or more): its serial is
// unknown, so there is no fingerprint.
class CommandFailed : public std::runtime_error {
public:
    explicit CommandFailed(const std::string& command)
        : std::runtime_error("command failed: " + command) {}
};

}  // namespace tirsel::kvl::agent::driver::common
