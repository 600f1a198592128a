#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// How a command ended.
enum class CommandOutcome {
    Exited,          // exitStatus holds its status
    NotStarted,      // no pipe, no process (setUp names the call that failed)
    Signalled,       // killed by a signal it did not get from us
    TimedOut,        // ran past the time bound
    OutputTooLarge,  // printed more than the output bound
    OutputHeldOpen,  // the command ended, but something it left holds its output
    ReadFailed,      // reading its output failed
    Unreported,      // its shell ended without a status, and the host reaped it
    Stopped,         // killed unfinished because another command of its run failed
    OutOfMemory,     // the run could not go on for want of memory
};

// The set-up call that kept a command from starting, and the errno value it
// gave. Recorded as values: only a reader that needs words makes them.
struct SetUpFailure {
    // The call, and what it was for ("socketpair", "posix_spawn"): static text.
    const char* call = "";
    // The program posix_spawn was to start (the shell); empty for other calls.
    std::string program;
    int error = 0;
};

// How one command ended, and nothing more: whether that is a usable answer
// is for whoever ran it to decide, and words for it are for whoever shows it.
struct CommandEnding {
    CommandOutcome outcome = CommandOutcome::NotStarted;
    int exitStatus = -1;  // Exited
    int signal = 0;       // Signalled
    // The watched tool's own status, as its shell reported it (a wait status:
    // WrappedCommand::SignalOf tells a signal from an exit status).
    std::optional<int> toolStatus;
    SetUpFailure setUp;  // NotStarted
    // The bounds it ran under (TimedOut and OutputTooLarge passed one); 0
    // when it never started.
    std::chrono::milliseconds timeLimit{0};
    std::size_t outputLimit = 0;

    bool Exited() const { return outcome == CommandOutcome::Exited; }
};

// What became of one command: how it ended and what it printed.
struct CommandResult : CommandEnding {
    // Its standard output (at most one final line feed removed); empty unless
    // it exited by itself.
    std::string output;
};

}  // namespace tirsel::kvl::agent::driver::platform
