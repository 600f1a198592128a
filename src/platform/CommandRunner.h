#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/CommandResult.h"
#include "platform/CommandSettings.h"

namespace tirsel::kvl::agent::driver::platform {

// Runs shell commands and reports what became of them; it decides nothing
// about whether that is a usable answer, and takes everything it needs as
// arguments (it reads no settings and no environment of its own). Never
// throws.
//
// Each command runs through `settings.shell`, unchanged, inside
// WrappedCommand's text: standard input and standard error are /dev/null, no
// other descriptor of the host reaches it, its environment is `environment`
// (the whole of it), and it runs in a process group of its own. Its outcome
// does not depend on what the host does with SIGCHLD, nor on processes the
// host forks while it runs. Bounded, each command on its own, from its own
// start: past `settings.timeLimit` or `settings.outputLimit` its whole group
// is killed. Leaves no process behind. With a `watchedTool`, the first
// command of the pipeline `text` is, that tool's own status is reported too.
class CommandRunner {
public:
    CommandRunner() = delete;

    struct Command {
        std::string text;
        std::string watchedTool;
    };

    static CommandResult Run(const Command& command, const CommandSettings& settings,
                             const std::vector<std::string>& environment);

    // Told of each command as it ends (its index and result, in the order
    // they end); false stops the run: every other command is killed at once,
    // then reaped, and reported as stopped (or, not yet started, stopped
    // without a start). Runs in the calling thread and must not throw.
    using Ended = std::function<bool(std::size_t index, CommandResult& result)>;

    // Runs `commands` at the same time, all watched in one poll loop in the
    // calling thread (no thread of the library's own), and returns their
    // results in the order of `commands`. At most that many process groups
    // exist at once.
    static std::vector<CommandResult> RunTogether(const std::vector<Command>& commands,
                                                  const CommandSettings& settings,
                                                  const std::vector<std::string>& environment,
                                                  const Ended& ended);
};

}  // namespace tirsel::kvl::agent::driver::platform
