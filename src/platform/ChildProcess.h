#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/CommandResult.h"
#include "platform/FileDescriptor.h"

namespace tirsel::kvl::agent::driver::platform {

// A command run as `shell -c text` through posix_spawn, owned from start to
// reaping. The child gets /dev/null as standard input and standard error, a
// pipe as standard output (this process's end reads without blocking), one end of a socket pair as
// descriptor 3 (the status channel the shell text reports on, see WrappedCommand), no other
// descriptor of the host, default signal handling, an empty signal mask, the
// given environment and a process group of its own. The destructor kills
// whatever is left of that group and reaps the shell.
//
// The host may reap the shell itself (SIGCHLD ignored, SA_NOCLDWAIT, a
// reaping handler or thread), so the wait status is not relied on; the
// group is signalled only while the shell is known to be this process's
// child, running or unreaped, which keeps its id from being reused.
class ChildProcess {
public:
    // The descriptor the status channel has in the child.
    static constexpr int kStatusDescriptor = 3;

    ChildProcess(const std::string& shell, const std::string& command,
                 const std::vector<std::string>& environment);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether the child runs; when not, StartFailure() names the set-up call
    // that failed and its errno value (posix_spawn of /bin/sh, ENOENT).
    bool Started() const { return pid > 0; }
    const SetUpFailure& StartFailure() const { return startFailure; }

    // The read end of the child's standard output.
    int Output() const { return output.Get(); }
    void CloseOutput() { output.Reset(); }
    // This process's end of the status channel (reads without blocking).
    int Status() const { return status.Get(); }

    // Whether the shell has ended, asked without reaping it: it is a zombie,
    // or no longer this process's child at all (the host reaped it). For
    // when its end of the status channel cannot tell: a process the host
    // forked may hold a copy of that end.
    bool HasEnded() const;

    // Sends SIGKILL to every process still in the child's group, unless the
    // shell is no longer this process's child; reaps nothing. Lets several
    // groups be killed before any is waited for.
    void Kill();

    // Sends SIGKILL to every process still in the child's group, unless the
    // shell is no longer this process's child; learns that the shell has
    // ended from its end of the status channel closing, and reaps it without
    // ever blocking in waitpid, within a bound of its own. Returns its wait
    // status, or nothing when someone else reaped it (or it outlived the
    // bound). Closes the status channel.
    std::optional<int> KillAndReap();

private:
    // What waitid, asked without reaping, says of the shell.
    enum class State { Running, Ended, Gone };
    State Look() const;
    // Whether the shell is this process's child, running or unreaped.
    bool StillOurs() const;

    pid_t pid = -1;
    SetUpFailure startFailure;
    bool reaped = false;
    std::optional<int> waitStatus;
    FileDescriptor output;
    FileDescriptor status;
};

}  // namespace tirsel::kvl::agent::driver::platform
