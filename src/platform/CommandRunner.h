#pragma once

#include <string>
#include <vector>

#include "platform/CommandResult.h"

namespace tirsel::kvl::agent::driver::platform {

// Runs shell commands and reports what became of them; it decides nothing
// about whether that is a usable answer. Stateless; never throws.
class CommandRunner {
public:
    CommandRunner() = delete;

    // Runs `command` through the shell of CurrentCommandSettings, unchanged,
    // inside WrappedCommand's text: standard input and standard error are
    // /dev/null, no other descriptor of the host reaches it, the environment
    // is ToolEnvironment's, and it runs in a process group of its own. Its
    // outcome does not depend on what the host does with SIGCHLD. Bounded:
    // past the time or output bound the whole group is killed. Leaves no
    // process behind. With a `watchedTool`, the first command of the pipeline
    // `command` is, that tool's own status is reported too.
    static CommandResult Run(const std::string& command,
                             const std::string& watchedTool = std::string());

    // The environment a command gets: of the host's variables only HOME,
    // TMPDIR, USER, LOGNAME, LANG, LC_* and __CF_USER_TEXT_ENCODING, in the
    // host's order, then PATH=`searchPath`.
    static std::vector<std::string> ToolEnvironment(const std::vector<std::string>& host,
                                                    const std::string& searchPath);
};

}  // namespace tirsel::kvl::agent::driver::platform
