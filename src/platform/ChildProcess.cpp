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
#include <optional>
#include <utility>

#include "platform/BoundClock.h"

namespace tirsel::kvl::agent::driver::platform {

namespace {

using Step = std::optional<SetUpFailure>;

// Nothing when `error` is 0, else the failure of `call`.
Step Checked(const char* call, int error) {
    return error == 0 ? Step() : Step(SetUpFailure{call, std::string(), error});
}

// posix_spawn's attributes and file actions, destroyed on every path.
class SpawnAttributes {
public:
    SpawnAttributes() : error(posix_spawnattr_init(&attributes)) {}
    ~SpawnAttributes() {
        if (error == 0) {
            posix_spawnattr_destroy(&attributes);
        }
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t attributes{};
    int error;
};

class FileActions {
public:
    FileActions() : error(posix_spawn_file_actions_init(&actions)) {}
    ~FileActions() {
        if (error == 0) {
            posix_spawn_file_actions_destroy(&actions);
        }
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t actions{};
    int error;
};

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

// A pipe, or with `socket` a connected socket pair, close-on-exec: `ours`
// gets the first end, `theirs` the second.
Step MakeChannel(bool socket, FileDescriptor& ours, FileDescriptor& theirs) {
    int ends[2];
#ifdef __APPLE__
    // No pipe2 or SOCK_CLOEXEC here; the children of this library close every
    // descriptor they are not given (POSIX_SPAWN_CLOEXEC_DEFAULT) in any case.
    if ((socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends)) != 0) {
        return Checked(socket ? "socketpair" : "pipe", errno);
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
#else
    if ((socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends)
                : pipe2(ends, O_CLOEXEC)) != 0) {
        return Checked(socket ? "socketpair" : "pipe2", errno);
    }
#endif
    ours = FileDescriptor(ends[0]);
    theirs = FileDescriptor(ends[1]);
    // This process reads its end without blocking: once the command is done,
    // its output is drained up to what is there, whoever else holds the
    // other end. The flag belongs to this end's open file alone.
    const int flags = fcntl(ours.Get(), F_GETFL);
    if (flags < 0 || fcntl(ours.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return Checked("fcntl O_NONBLOCK", errno);
    }
    return Step();
}

// `fd` moved above the descriptors the child is given (a host that closed
// its standard descriptors has pipes there), so that no file action
// overwrites a descriptor a later one copies from.
Step AboveTheChildsOwn(FileDescriptor& fd) {
    if (fd.Get() >= kFirstClosed) {
        return Step();
    }
    const int moved = fcntl(fd.Get(), F_DUPFD_CLOEXEC, kFirstClosed);
    if (moved < 0) {
        return Checked("fcntl F_DUPFD_CLOEXEC", errno);
    }
    fd = FileDescriptor(moved);
    return Step();
}

// Every descriptor from kFirstClosed up is closed in the child.
#if defined(__APPLE__)
constexpr short kCloseTheRest = POSIX_SPAWN_CLOEXEC_DEFAULT;
Step CloseTheRest(posix_spawn_file_actions_t&) {
    return Step();
}
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
constexpr short kCloseTheRest = 0;
Step CloseTheRest(posix_spawn_file_actions_t& actions) {
    return Checked("posix_spawn_file_actions_addclosefrom_np",
                   posix_spawn_file_actions_addclosefrom_np(&actions, kFirstClosed));
}
#else
#error \
    "no way to close the host's descriptors in the child (POSIX_SPAWN_CLOEXEC_DEFAULT, closefrom)"
#endif

// A process group of its own, default dispositions and an empty mask.
Step SetAttributes(posix_spawnattr_t& attributes) {
    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigset_t mask;
    sigemptyset(&mask);
    const short flags =
        POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | kCloseTheRest;
    if (const int error = posix_spawnattr_setflags(&attributes, flags)) {
        return Checked("posix_spawnattr_setflags", error);
    }
    if (const int error = posix_spawnattr_setpgroup(&attributes, 0)) {
        return Checked("posix_spawnattr_setpgroup", error);
    }
    if (const int error = posix_spawnattr_setsigdefault(&attributes, &defaults)) {
        return Checked("posix_spawnattr_setsigdefault", error);
    }
    return Checked("posix_spawnattr_setsigmask", posix_spawnattr_setsigmask(&attributes, &mask));
}

// Standard output to `output`, the status channel to kStatusDescriptor,
// /dev/null as standard input and standard error, nothing else.
Step SetFileActions(posix_spawn_file_actions_t& actions, int output, int status) {
    if (const int error = posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO)) {
        return Checked("posix_spawn_file_actions_adddup2 stdout", error);
    }
    if (const int error =
            posix_spawn_file_actions_adddup2(&actions, status, ChildProcess::kStatusDescriptor)) {
        return Checked("posix_spawn_file_actions_adddup2 status channel", error);
    }
    for (const auto& [fd, flags] :
         {std::pair{STDIN_FILENO, O_RDONLY}, std::pair{STDERR_FILENO, O_WRONLY}}) {
        if (const int error =
                posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", flags, 0)) {
            return Checked("posix_spawn_file_actions_addopen /dev/null", error);
        }
    }
    return CloseTheRest(actions);
}

// Starts `shell -c command` with the set-up ChildProcess describes; `output`
// and `status` get this process's ends of the two channels.
Step Spawn(const std::string& shell, const std::string& command,
           const std::vector<std::string>& environment, FileDescriptor& output,
           FileDescriptor& status, pid_t& pid) {
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
    if (attributes.error != 0) {
        return Checked("posix_spawnattr_init", attributes.error);
    }
    FileActions actions;
    if (actions.error != 0) {
        return Checked("posix_spawn_file_actions_init", actions.error);
    }
    FileDescriptor writeEnd;
    FileDescriptor childStatus;
    if (Step failed = MakeChannel(false, output, writeEnd)) {
        return failed;
    }
    if (Step failed = MakeChannel(true, status, childStatus)) {
        return failed;
    }
    if (Step failed = AboveTheChildsOwn(writeEnd)) {
        return failed;
    }
    if (Step failed = AboveTheChildsOwn(childStatus)) {
        return failed;
    }
    if (Step failed = SetAttributes(attributes.attributes)) {
        return failed;
    }
    if (Step failed = SetFileActions(actions.actions, writeEnd.Get(), childStatus.Get())) {
        return failed;
    }
    pid_t child = -1;
    const int error = posix_spawn(&child, shell.c_str(), &actions.actions, &attributes.attributes,
                                  argv, envp.data());
    if (error != 0) {
        return SetUpFailure{"posix_spawn", shell, error};
    }
    pid = child;
    return Step();
}

}  // namespace

ChildProcess::ChildProcess(const std::string& shell, const std::string& command,
                           const std::vector<std::string>& environment) {
    Step failed = Spawn(shell, command, environment, output, status, pid);
    if (failed) {
        output.Reset();
        status.Reset();
        startFailure = std::move(*failed);
    }
}

ChildProcess::~ChildProcess() {
    if (Started() && !reaped) {
        KillAndReap();
    }
}

ChildProcess::State ChildProcess::Look() const {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) {
            return State::Gone;  // reaped by the host or the kernel: its id is free
        }
    }
    return info.si_pid == pid ? State::Ended : State::Running;  // si_pid is 0 while it runs
}

bool ChildProcess::StillOurs() const {
    return Look() != State::Gone;
}

bool ChildProcess::HasEnded() const {
    return Look() != State::Running;
}

void ChildProcess::Kill() {
    // A shell that has not been reaped keeps its pid, and so its group id,
    // from reuse. It waits on the status channel, so only a signal from
    // outside ends it early; then a host that reaps children may already
    // have taken it, and the group is left alone.
    if (Started() && !reaped && StillOurs()) {
        kill(-pid, SIGKILL);
    }
}

std::optional<int> ChildProcess::KillAndReap() {
    if (reaped) {
        return waitStatus;
    }
    Kill();
    reaped = true;  // whatever happens below, nothing is left to try later
    // Never wait blocked for the shell: where the host ignores SIGCHLD (or
    // sets SA_NOCLDWAIT) the kernel reaps it, and xnu wakes a parent asleep
    // in wait4 only once its last child is gone (bsd/kern/kern_exit.c:
    // wait4_nocancel sleeps on the parent, reap_child_locked wakes it only
    // when p_children is empty), so a host with another child alive would
    // never get the call back. What tells that the shell has ended is its
    // end of the status channel closing; the reaping itself is WNOHANG.
    const BoundClock::time_point giveUp = BoundClock::now() + kReapBound;
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
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - BoundClock::now());
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
    status.Reset();
    return waitStatus;
}

}  // namespace tirsel::kvl::agent::driver::platform
