#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace tirsel::kvl::agent::driver::platform {

namespace {

// posix_spawn's attributes and file actions, destroyed on every path.
class SpawnAttributes {
public:
    SpawnAttributes() { ready = posix_spawnattr_init(&attributes) == 0; }
    ~SpawnAttributes() {
        if (ready) {
            posix_spawnattr_destroy(&attributes);
        }
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ready = false;
    posix_spawnattr_t attributes{};
};

class FileActions {
public:
    FileActions() { ready = posix_spawn_file_actions_init(&actions) == 0; }
    ~FileActions() {
        if (ready) {
            posix_spawn_file_actions_destroy(&actions);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ready = false;
    posix_spawn_file_actions_t actions{};
};

using Clock = std::chrono::steady_clock;

// How long a shell killed with SIGKILL may take to end before it is left to
// the host; a process that exits normally is gone in well under a millisecond.
constexpr std::chrono::milliseconds kReapBound{1000};
// While the status channel is open, how long one wait for its hang-up lasts
// before waitpid is asked again (a process of the host's forked meanwhile may
// hold a copy of the shell's end).
constexpr std::chrono::milliseconds kReapStep{10};
// Once the channel has hung up, the pause between two asks.
constexpr long kReapPause = 200000;  // ns

// Waits at most `wait` for the other end of `fd` to close; true once it has.
// Whatever still arrives on it is read and dropped.
bool AwaitHangUp(int fd, std::chrono::milliseconds wait) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(wait.count()));
    if (ready <= 0) {
        return false;  // nothing yet, or interrupted: ask waitpid again
    }
    char buffer[256];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    return count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN);
}

// The first descriptor the child does not get from us; everything from here
// up is closed in it.
constexpr int kFirstClosed = ChildProcess::kStatusDescriptor + 1;

// A pipe, or with `socket` a connected socket pair, close-on-exec.
int MakeChannel(int ends[2], bool socket) {
#ifdef __APPLE__
    // No pipe2 or SOCK_CLOEXEC here; the children of this library close every
    // descriptor they are not given (POSIX_SPAWN_CLOEXEC_DEFAULT) in any case.
    if ((socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends)) != 0) {
        return errno;
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return 0;
#else
    const int made =
        socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) : pipe2(ends, O_CLOEXEC);
    return made == 0 ? 0 : errno;
#endif
}

// `fd` moved above the descriptors the child is given (a host that closed
// its standard descriptors has pipes there), so that no file action
// overwrites a descriptor a later one copies from.
int AboveTheChildsOwn(FileDescriptor& fd) {
    if (fd.Get() >= kFirstClosed) {
        return 0;
    }
    const int moved = fcntl(fd.Get(), F_DUPFD_CLOEXEC, kFirstClosed);
    if (moved < 0) {
        return errno;
    }
    fd = FileDescriptor(moved);
    return 0;
}

// Every descriptor from kFirstClosed up is closed in the child.
#if defined(__APPLE__)
constexpr short kCloseTheRest = POSIX_SPAWN_CLOEXEC_DEFAULT;
int CloseTheRest(posix_spawn_file_actions_t&) {
    return 0;
}
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
constexpr short kCloseTheRest = 0;
int CloseTheRest(posix_spawn_file_actions_t& actions) {
    return posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosed);
}
#else
#error \
    "no way to close the host's descriptors in the child (POSIX_SPAWN_CLOEXEC_DEFAULT, closefrom)"
#endif

}  // namespace

ChildProcess::ChildProcess(const std::string& shell, const std::string& command,
                           const std::vector<std::string>& environment) {
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    char dashC[] = "-c";
    char* const argv[] = {const_cast<char*>(shell.c_str()), dashC,
                          const_cast<char*>(command.c_str()), nullptr};

    SpawnAttributes attributes;
    FileActions actions;
    if (!attributes.ready || !actions.ready) {
        error = ENOMEM;
        return;
    }
    int ends[2];
    if ((error = MakeChannel(ends, false)) != 0) {
        return;
    }
    output = FileDescriptor(ends[0]);
    FileDescriptor writeEnd(ends[1]);
    if ((error = MakeChannel(ends, true)) != 0) {
        output.Close();
        return;
    }
    status = FileDescriptor(ends[0]);
    FileDescriptor childStatus(ends[1]);

    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_t& attr = attributes.attributes;
    posix_spawn_file_actions_t& act = actions.actions;
    const short flags =
        POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | kCloseTheRest;
    if ((error = AboveTheChildsOwn(writeEnd)) != 0 ||
        (error = AboveTheChildsOwn(childStatus)) != 0 ||
        (error = posix_spawnattr_setflags(&attr, flags)) != 0 ||
        (error = posix_spawnattr_setpgroup(&attr, 0)) != 0 ||
        (error = posix_spawnattr_setsigdefault(&attr, &defaults)) != 0 ||
        (error = posix_spawnattr_setsigmask(&attr, &mask)) != 0 ||
        (error = posix_spawn_file_actions_adddup2(&act, writeEnd.Get(), STDOUT_FILENO)) != 0 ||
        (error = posix_spawn_file_actions_adddup2(&act, childStatus.Get(), kStatusDescriptor)) !=
            0 ||
        (error = posix_spawn_file_actions_addopen(&act, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) !=
            0 ||
        (error = posix_spawn_file_actions_addopen(&act, STDERR_FILENO, "/dev/null", O_WRONLY, 0)) !=
            0 ||
        (error = CloseTheRest(act)) != 0) {
        output.Close();
        status.Close();
        return;
    }
    pid_t child = -1;
    error = posix_spawn(&child, shell.c_str(), &act, &attr, argv, envp.data());
    if (error != 0) {
        output.Close();
        status.Close();
        return;
    }
    pid = child;
}

ChildProcess::~ChildProcess() {
    if (Started() && !reaped) {
        KillAndReap();
    }
}

bool ChildProcess::StillOurs() const {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) {
            return false;  // reaped by the host or the kernel: its id is free
        }
    }
    return true;
}

std::optional<int> ChildProcess::KillAndReap() {
    if (reaped) {
        return waitStatus;
    }
    reaped = true;  // whatever happens below, nothing is left to try later
    // A shell that has not been reaped keeps its pid, and so its group id,
    // from reuse. It waits on the status channel, so only a signal from
    // outside ends it early; then a host that reaps children may already
    // have taken it, and the group is left alone.
    if (StillOurs()) {
        kill(-pid, SIGKILL);
    }
    // Never wait blocked for the shell: where the host ignores SIGCHLD (or
    // sets SA_NOCLDWAIT) the kernel reaps it, and xnu wakes a parent asleep
    // in wait4 only once its last child is gone (bsd/kern/kern_exit.c:
    // wait4_nocancel sleeps on the parent, reap_child_locked wakes it only
    // when p_children is empty), so a host with another child alive would
    // never get the call back. What tells that the shell has ended is its
    // end of the status channel closing; the reaping itself is WNOHANG.
    const Clock::time_point giveUp = Clock::now() + kReapBound;
    bool hungUp = false;
    while (true) {
        int waited = 0;
        const pid_t found = waitpid(pid, &waited, WNOHANG);
        if (found == pid) {
            waitStatus = waited;
            break;
        }
        if (found < 0 && errno != EINTR) {
            break;  // ECHILD: reaped by the host or the kernel
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left.count() <= 0) {
            break;  // not gone after SIGKILL within the bound: left to the host
        }
        hungUp = hungUp || AwaitHangUp(status.Get(), std::min(left, kReapStep));
        if (hungUp) {
            // Ended, and about to be a zombie (or gone) any moment.
            const timespec pause{0, kReapPause};
            nanosleep(&pause, nullptr);
        }
    }
    status.Close();
    return waitStatus;
}

}  // namespace tirsel::kvl::agent::driver::platform
