#pragma once

#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::common {

// How a command ended.
enum class CommandOutcome {
    Exited,          // exitStatus holds its status
    NotStarted,      // no pipe, no process (fork or exec failed)
    Signalled,       // killed by a signal it did not get from us
    TimedOut,        // ran past the time bound
    OutputTooLarge,  // printed more than the output bound
    OutputHeldOpen,  // the shell ended, but something it left holds its output
    ReadFailed,      // reading its output failed
};

// A command's standard output (at most one final line feed removed) and how
// it ended. The output is empty unless the command exited by itself.
struct CommandResult {
    std::string output;
    CommandOutcome outcome = CommandOutcome::NotStarted;
    int exitStatus = -1;

    // Whether the command must count as failed: it did not run to its end,
    // or it exited with status 2 or more. Status 1 is grep's "no match", an
    // empty field and no failure.
    bool Failed() const { return outcome != CommandOutcome::Exited || exitStatus >= 2; }
};

// Shell command execution and in-place trimming. Stateless; never throws
// (but lets a thread's cancellation unwind).
class TirselFunctions {
public:
    TirselFunctions() = delete;

    // Runs `command` through /bin/sh and returns its standard output with at
    // most one final line feed removed; empty when the command cannot be
    // started, prints nothing, or fails as RunCommand describes. Whatever a
    // command printed before exiting with any status is kept.
    static std::string ExecCommand(const std::string& command);

    // Runs `command` as `/bin/sh -c command`: standard input and standard
    // error are /dev/null, no other descriptor of the host reaches it, the
    // environment is SanitizedEnvironment's, and it runs in a process group of
    // its own. Bounded: past 30 s or 64 MiB of output the whole group is
    // killed and the command counts as failed. Never leaves a process behind.
    static CommandResult RunCommand(const std::string& command);

    // The host's environment as a command sees it: without the loader's and
    // the shell's injection points (LD_*, DYLD_*, BASH_FUNC_*, ENV, BASH_ENV,
    // IFS, SHELLOPTS, PS4) and entries without '=', with PATH=`searchPath`
    // last; everything else (the locale, say) kept in order.
    static std::vector<std::string> SanitizedEnvironment(const std::vector<std::string>& host,
                                                         const std::string& searchPath);

    // Remove C-locale white space (tab, LF, VT, FF, CR, blank) at the ends.
    static void trim(std::string& s);
    static void ltrim(std::string& s);
    static void rtrim(std::string& s);
};

}  // namespace tirsel::kvl::agent::driver::common
