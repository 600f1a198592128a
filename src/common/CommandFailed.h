#pragma once

#include <stdexcept>
#include <string>

namespace tirsel::kvl::agent::driver::common {

// A command of the fallback sources did not run to a usable end (not
// started, killed, past a bound, exit status 2 or more, or grep's "no match"
// after a failed tool): its serial is unknown, so there is no fingerprint.
class CommandFailed : public std::runtime_error {
public:
    // `reason` as CommandResult::failure gives it ("timed out after 30 s").
    CommandFailed(const std::string& command, const std::string& reason)
        : std::runtime_error("command failed (" + reason + "): " + command),
          command(command),
          reason(reason) {}

    const std::string& Command() const { return command; }
    const std::string& Reason() const { return reason; }

private:
    std::string command;
    std::string reason;
};

}  // namespace tirsel::kvl::agent::driver::common
