#pragma once

#include <stdexcept>
#include <string>

namespace tirsel::kvl::agent::driver::business {

// A command of the fallback sources did not run to a usable end (not
// started, killed, past a bound, exit status 2 or more, or grep's "no match"
// after a failed tool), or its report had no labelled line and no source
// without a label stood in (ReportLine::Pick): its serial is unknown, so
// there is no fingerprint.
class CommandFailed : public std::runtime_error {
public:
    // `reason` says why ("timed out after 30 s", "system_profiler was killed
    // by signal 9, and grep matched nothing").
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

}  // namespace tirsel::kvl::agent::driver::business
