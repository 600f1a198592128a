#pragma once

#include <optional>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// How a command ended.
enum class CommandOutcome {
    Exited,          // exitStatus holds its status
    NotStarted,      // no pipe, no process (reason names the step that failed)
    Signalled,       // killed by a signal it did not get from us
    TimedOut,        // ran past the time bound
    OutputTooLarge,  // printed more than the output bound
    OutputHeldOpen,  // the command ended, but something it left holds its output
    ReadFailed,      // reading its output failed
    Unreported,      // its shell ended without a status, and the host reaped it
    Stopped,         // killed unfinished because another command of its run failed
};

// What became of one command, and nothing more: whether that is a usable
// answer is for whoever ran it to decide.
struct CommandResult {
    // Its standard output (at most one final line feed removed); empty unless
    // it exited by itself.
    std::string output;
    CommandOutcome outcome = CommandOutcome::NotStarted;
    int exitStatus = -1;  // Exited
    int signal = 0;       // Signalled
    // The watched tool's own status, as its shell reported it.
    std::optional<int> toolStatus;
    // How it ended, for people: "exit status 2", "timed out after 30 s",
    // "could not start: posix_spawn /bin/sh: No such file or directory".
    std::string reason;

    bool Exited() const { return outcome == CommandOutcome::Exited; }
    // How the watched tool ended, for people: "ended with exit status 1",
    // "was killed by signal 9", "did not report how it ended".
    std::string ToolEnding() const;
};

}  // namespace tirsel::kvl::agent::driver::platform
