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

// The settings commands run with. What is linked decides which: the shipped
// library and grellaninspect link the fixed set above (CommandSettings.cpp);
// the test programs link a set they can replace (tests/support).
const CommandSettings& CurrentCommandSettings();

}  // namespace tirsel::kvl::agent::driver::platform
