// A host as agent daemons and language runtimes set themselves up: SIGCHLD
// handled as argv[1] says ("default", "ignore", "nocldwait", "handler": a
// handler that reaps every child, "reaper": a thread looping on
// waitpid(-1)); then it loads libgrellan by path (argv[2]), calls
// GetHardwareHash once and prints the result on a line. With a third
// argument "busy", a child of its own (a worker, say) stays alive through
// the call: a host that ignores SIGCHLD is then never woken from a blocking
// wait by its other children's ends on macOS.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HostCall.h"

namespace {

void ReapEverything(int) {
    const int saved = errno;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved;
}

bool SetUp(const char* mode) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_DFL;
    if (std::strcmp(mode, "default") == 0) {
        return true;
    }
    if (std::strcmp(mode, "ignore") == 0) {
        action.sa_handler = SIG_IGN;
    } else if (std::strcmp(mode, "nocldwait") == 0) {
        action.sa_flags = SA_NOCLDWAIT;
    } else if (std::strcmp(mode, "handler") == 0) {
        action.sa_handler = ReapEverything;
        action.sa_flags = SA_RESTART;
    } else if (std::strcmp(mode, "reaper") == 0) {
        std::thread([] {
            while (true) {
                if (waitpid(-1, nullptr, 0) < 0) {
                    usleep(1000);  // no child right now
                }
            }
        }).detach();
        return true;
    } else {
        return false;
    }
    return sigaction(SIGCHLD, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = argc == 4 && std::strcmp(argv[3], "busy") == 0;
    if (argc < 3 || argc > 4 || (argc == 4 && !busy) || !SetUp(argv[1])) {
        std::fprintf(stderr,
                     "usage: signal_host default|ignore|nocldwait|handler|reaper LIBRARY [busy]\n");
        return 2;
    }
    pid_t worker = -1;
    if (busy && (worker = fork()) == 0) {
        pause();
        _exit(0);
    }
    const int status = grellan::testing::PrintHardwareHashOf(argv[2]);
    if (worker > 0) {
        kill(worker, SIGKILL);
    }
    return status;
}
