#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::platform {

// How commands run: the shell, the one search path the tools are found
// through (the host's PATH is never used), what of the host's environment
// they see, and the bounds of one command. The command runner takes these as
// arguments; it reads no settings of its own.
struct CommandSettings {
    std::string shell = "/bin/sh";
    // Where the macOS tools and grep live.
    std::string searchPath = "/usr/bin:/bin:/usr/sbin:/sbin";
    // Bound of one command, from its start until it has ended, on the
    // BoundClock (which stops while the machine sleeps).
    std::chrono::milliseconds timeLimit{30000};
    // Bytes of standard output one command may print.
    std::size_t outputLimit = std::size_t{64} * 1024 * 1024;

    // The environment a command gets: of `host`'s variables only HOME,
    // TMPDIR, USER, LOGNAME, LANG, LC_* and __CF_USER_TEXT_ENCODING, in the
    // host's order, then PATH=searchPath.
    std::vector<std::string> ToolEnvironment(const std::vector<std::string>& host) const;
    // The same of this process's environment as it is now.
    std::vector<std::string> ToolEnvironment() const;
};

// The settings commands run with. What is linked decides which: the shipped
// library and grellaninspect link the fixed set above
// (FixedCommandSettings.cpp); the test programs link a set they can replace
// (tests/support).
const CommandSettings& CurrentCommandSettings();

}  // namespace tirsel::kvl::agent::driver::platform
