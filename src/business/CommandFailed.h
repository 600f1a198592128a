#pragma once

#include <exception>
#include <string>
#include <utility>

#include "business/CommandVerdict.h"

namespace tirsel::kvl::agent::driver::business {

// A command of the fallback sources did not run to a usable end (not
// started, killed, past a bound, exit status 2 or more, or grep's "no match"
// after a failed tool), or its report had no labelled line and no source
// without a label stood in (ReportLine::Pick): its serial is unknown, so
// there is no fingerprint. It carries the command and the verdict as values;
// grellaninspect words them ("timed out after 30 s").
class CommandFailed : public std::exception {
public:
    CommandFailed(std::string command, const CommandVerdict& verdict)
        : command(std::move(command)), verdict(verdict) {}

    const std::string& Command() const { return command; }
    const CommandVerdict& Verdict() const { return verdict; }

    // The same words for every instance: Command() and Verdict() say which
    // command and why.
    const char* what() const noexcept override {
        return "a command of the fallback sources gave no usable answer";
    }

private:
    std::string command;
    CommandVerdict verdict;
};

}  // namespace tirsel::kvl::agent::driver::business
