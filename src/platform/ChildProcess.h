#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/FileDescriptor.h"

namespace tirsel::kvl::agent::driver::platform {

// A command run as `shell -c command` through posix_spawn, owned from start
// to reaping. The child gets /dev/null as standard input and standard error,
// a pipe as standard output, no other descriptor of the host, default signal
// handling, an empty signal mask, the given environment and a process group
// of its own. The destructor kills whatever is left of that group and reaps
// the shell, so no path leaves a zombie or an orphan behind.
class ChildProcess {
public:
    ChildProcess(const std::string& shell, const std::string& command,
                 const std::vector<std::string>& environment);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether the child runs; when not, StartError() holds the errno value.
    bool Started() const { return pid > 0; }
    int StartError() const { return error; }

    // The read end of the child's standard output.
    int Output() const { return output.Get(); }
    void CloseOutput() { output.Close(); }

    // Whether the shell has ended. It stays unreaped, so its process group
    // cannot be reused until KillAndReap.
    bool HasEnded() const;

    // Sends SIGKILL to every process still in the child's group, then waits
    // for the shell and returns its wait status (killed, when it was still
    // running). Cancellation is held off meanwhile: the wait always completes.
    int KillAndReap();

private:
    pid_t pid = -1;
    int error = 0;
    bool reaped = false;
    int status = 0;
    FileDescriptor output;
};

}  // namespace tirsel::kvl::agent::driver::platform
