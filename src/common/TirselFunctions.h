#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::common {

// How a command ended.
enum class CommandOutcome {
    Exited,          // exitStatus holds its status
    NotStarted,      // no pipe, no process (startError holds why)
    Signalled,       // killed by a signal it did not get from us
    TimedOut,        // ran past the time bound
    OutputTooLarge,  // printed more than the output bound
    OutputHeldOpen,  // the command ended, but something it left holds its output
    ReadFailed,      // reading its output failed
    Unreported,      // its shell ended without a status, and the host reaped it
};

// A command's standard output (at most one final line feed removed) and how
// it ended. The output is empty unless the command exited by itself.
struct CommandResult {
    std::string output;
    CommandOutcome outcome = CommandOutcome::NotStarted;
    int exitStatus = -1;  // Exited
    int signal = 0;       // Signalled
    int startError = 0;   // NotStarted: the errno value
    // The watched tool's own status, as its shell reported it.
    std::optional<int> toolStatus;
    // Why the command counts as failed, for people ("exit status 2", "timed
    // out after 30 s"); empty when it does not.
    std::string failure;

    // Whether the command must count as failed: it did not run to its end,
    // it exited with status 2 or more, or it exited with grep's 1 ("no
    // match", otherwise an empty field and no failure) after the watched tool
    // in front of grep had failed.
    bool Failed() const { return !failure.empty(); }
};

// Shell command execution and in-place trimming. Stateless; never throws.
class TirselFunctions {
public:
    TirselFunctions() = delete;

    // Runs `command` through /bin/sh and returns its standard output with at
    // most one final line feed removed; empty when the command cannot be
    // started, prints nothing, or fails as RunCommand describes. Whatever a
    // command printed before exiting with any status is kept.
    static std::string ExecCommand(const std::string& command);

    // Runs `command` through /bin/sh, unchanged, inside WrappedCommand's text:
    // standard input and standard error are /dev/null, no other descriptor of
    // the host reaches it, the environment is ToolEnvironment's, and it
    // runs in a process group of its own. Its outcome does not depend on what
    // the host does with SIGCHLD. Bounded: past 30 s or 64 MiB of output the
    // whole group is killed and the command counts as failed. Leaves no
    // process behind. With a `watchedTool`, the first command of the pipeline
    // `command` is, that tool's own status counts too (see Failed).
    static CommandResult RunCommand(const std::string& command,
                                    const std::string& watchedTool = std::string());

    // The environment a command gets: of the host's variables only HOME,
    // TMPDIR, USER, LOGNAME, LANG, LC_* and __CF_USER_TEXT_ENCODING, in the
    // host's order, then PATH=`searchPath`.
    static std::vector<std::string> ToolEnvironment(const std::vector<std::string>& host,
                                                    const std::string& searchPath);

    // Remove C-locale white space (tab, LF, VT, FF, CR, blank) at the ends.
    static void trim(std::string& s);
    static void ltrim(std::string& s);
    static void rtrim(std::string& s);
};

}  // namespace tirsel::kvl::agent::driver::common
