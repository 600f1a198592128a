#include "platform/ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Holds off thread cancellation for one scope.
class NoCancellation {
public:
    NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous); }
    ~NoCancellation() { pthread_setcancelstate(previous, nullptr); }
    NoCancellation(const NoCancellation&) = delete;
    NoCancellation& operator=(const NoCancellation&) = delete;

private:
    int previous = 0;
};

int MakePipe(int ends[2]) {
#ifdef __APPLE__
    // No pipe2 here; the children of this library close every descriptor
    // they are not given (POSIX_SPAWN_CLOEXEC_DEFAULT) in any case.
    if (pipe(ends) != 0) {
        return errno;
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return 0;
#else
    return pipe2(ends, O_CLOEXEC) == 0 ? 0 : errno;
#endif
}

// Every descriptor above standard error is closed in the child.
int CloseTheRest(posix_spawnattr_t& attributes, posix_spawn_file_actions_t& actions) {
#if defined(__APPLE__)
    (void)actions;
    return posix_spawnattr_setflags(&attributes, POSIX_SPAWN_CLOEXEC_DEFAULT |
                                                     POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                     POSIX_SPAWN_SETSIGMASK);
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    (void)attributes;
    return posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#else
    // Without closefrom: close what is open now. A descriptor another thread
    // opens without O_CLOEXEC between this listing and the spawn is inherited.
    (void)attributes;
    DIR* dir = opendir("/dev/fd");
    if (dir == nullptr) {
        return errno;
    }
    const int listing = dirfd(dir);
    int result = 0;
    while (const dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > STDERR_FILENO && fd != listing) {
            result = posix_spawn_file_actions_addclose(&actions, fd);
            if (result != 0) {
                break;
            }
        }
    }
    closedir(dir);
    return result;
#endif
}

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
    error = MakePipe(ends);
    if (error != 0) {
        return;
    }
    output = FileDescriptor(ends[0]);
    const FileDescriptor writeEnd(ends[1]);

    sigset_t defaults;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_t& attr = attributes.attributes;
    posix_spawn_file_actions_t& act = actions.actions;
    // The order matters: the pipe becomes standard output before /dev/null is
    // opened over 0 and 2, which may be where the pipe's write end lies.
    if ((error = posix_spawnattr_setflags(
             &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK)) != 0 ||
        (error = posix_spawnattr_setpgroup(&attr, 0)) != 0 ||
        (error = posix_spawnattr_setsigdefault(&attr, &defaults)) != 0 ||
        (error = posix_spawnattr_setsigmask(&attr, &mask)) != 0 ||
        (error = posix_spawn_file_actions_adddup2(&act, writeEnd.Get(), STDOUT_FILENO)) != 0 ||
        (error = posix_spawn_file_actions_addopen(&act, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) !=
            0 ||
        (error = posix_spawn_file_actions_addopen(&act, STDERR_FILENO, "/dev/null", O_WRONLY, 0)) !=
            0 ||
        (error = CloseTheRest(attr, act)) != 0) {
        output.Close();
        return;
    }
    pid_t child = -1;
    error = posix_spawn(&child, shell.c_str(), &act, &attr, argv, envp.data());
    if (error != 0) {
        output.Close();
        return;
    }
    pid = child;
}

ChildProcess::~ChildProcess() {
    if (Started() && !reaped) {
        KillAndReap();
    }
}

bool ChildProcess::HasEnded() const {
    if (reaped) {
        return true;
    }
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) {
            return true;  // no such child any more
        }
    }
    return info.si_pid != 0;
}

int ChildProcess::KillAndReap() {
    if (reaped) {
        return status;
    }
    const NoCancellation noCancellation;
    // The shell is not reaped yet, so its pid still names this group.
    kill(-pid, SIGKILL);
    int waited = 0;
    while (waitpid(pid, &waited, 0) < 0) {
        if (errno != EINTR) {
            waited = SIGKILL;  // not ours to wait for: counts as killed
            break;
        }
    }
    reaped = true;
    status = waited;
    return status;
}

}  // namespace tirsel::kvl::agent::driver::platform
