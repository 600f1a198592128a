#pragma once

#include <optional>
#include <string>

namespace tirsel::kvl::agent::driver::platform {

// The shell text a command runs in, and what that shell reports back.
//
// Why a wrapper: the host owns SIGCHLD. A host that ignores it (or sets
// SA_NOCLDWAIT) has the kernel reap the library's shells, and one that reaps
// every child itself (a handler, a thread looping on waitpid(-1)) may take a
// shell's status first; either way waitpid cannot tell how a command ended,
// and once the shell is reaped its process-group id may name someone else's
// group. The shell itself runs with default dispositions, so its own wait
// always works: the wrapper runs the command text, unchanged, in a subshell,
// writes the subshell's status to the status channel (descriptor 3, closed
// for the command so no tool and no leftover holds it), and then blocks
// reading that channel until the library closes it. Until then the shell is
// alive and the group id provably the library's, so killing the group is
// safe. This works the same with dash, bash in POSIX mode and zsh as sh, and
// needs no Linux- or macOS-only process handles.
//
// Why a relay: the command's output reaches the library through `cat`, over
// a pipe the shell makes itself. That inner pipe never exists in the host, so
// only the command's own processes can hold it, and cat ends exactly when the
// last of them has let go: the shell then says "d" (done). The pipe from cat
// to the library does exist in the host for a moment, and a process the host
// forks meanwhile (without exec, as a pre-fork server or Python's
// multiprocessing does) keeps a copy of its write end for as long as it
// lives; the library never waits for that copy to close. After "d" every byte
// of the command is already in that pipe.
class WrappedCommand {
public:
    WrappedCommand() = delete;

    // The `/bin/sh -c` text around `command`. With a `watchedTool` (the first
    // command of the pipeline `command` holds), a shell function of that name
    // runs the real tool through `command`, with the status channel closed,
    // and reports the tool's own status as well: a pipeline's status is only
    // its last command's.
    static std::string Text(const std::string& command, const std::string& watchedTool);

    // What the shell wrote to the status channel.
    struct Report {
        std::optional<int> status;      // the command's status ("e N")
        std::optional<int> toolStatus;  // the watched tool's last status ("t N")
        // Every process of the command has let go of its output, and all it
        // printed is on its way to the library ("d"; only after "e N").
        bool done = false;
    };
    static Report Parse(const std::string& text);

    // The signal a shell's status stands for: a shell reports a command
    // killed by signal N as status 128 + N. Nothing for other statuses.
    static std::optional<int> SignalOf(int status);
};

}  // namespace tirsel::kvl::agent::driver::platform
