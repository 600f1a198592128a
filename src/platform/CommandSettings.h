#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// How commands run: the shell, the one search path the tools are found
// through (the host's PATH is never used), and the bounds of one command.
struct CommandSettings {
    std::string shell = "/bin/sh";
    // Where the macOS tools and grep live.
    std::string searchPath = "/usr/bin:/bin:/usr/sbin:/sbin";
    // Wall-clock bound of one command, from its start until it has ended.
    std::chrono::milliseconds timeLimit{30000};
    // Bytes of standard output one command may print.
    std::size_t outputLimit = std::size_t{64} * 1024 * 1024;
};

// The fixed settings above, unless a test has put an override in place.
const CommandSettings& CurrentCommandSettings();

// Installs `settings` (or, for null, the fixed set) and returns what was in
// place. Tests only, through ScopedCommandSettings; not for use while other
// threads run commands.
const CommandSettings* ExchangeCommandSettings(const CommandSettings* settings);

}  // namespace tirsel::kvl::agent::driver::platform
