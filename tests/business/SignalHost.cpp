// A host as agent daemons and language runtimes set themselves up: SIGCHLD
// handled as argv[1] says ("default", "ignore", "nocldwait", "handler": a
// handler that reaps every child, "reaper": a thread looping on
// waitpid(-1)); then it loads libgrellan by path (argv[2]), calls
// GetHardwareHash once and prints the result on a line. With a third
// argument "busy", a child of its own (a worker, say) stays alive through
// the call: a host that ignores SIGCHLD is then never woken from a blocking
// wait by its other children's ends on macOS. With "forks", a thread forks
// children without exec in a loop (each sleeps 2 s, as a pre-fork server's or
// Python multiprocessing's workers live on with every descriptor copied)
// while four threads make five calls each: it prints every answer on a line,
// then "descriptors BEFORE AFTER", its open descriptors around the calls.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

int OpenDescriptors() {
    int open = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        open += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    }
    return open;
}

// Four threads calling five times each beside a thread that forks every 10 ms.
int CallsBesideForks(GetHardwareHashFn getHash) {
    const int before = OpenDescriptors();
    std::atomic<bool> calling{true};
    std::vector<pid_t> forked;
    std::thread forker([&] {
        while (calling.load()) {
            const pid_t pid = fork();
            if (pid == 0) {
                const timespec twoSeconds{2, 0};
                nanosleep(&twoSeconds, nullptr);
                _exit(0);
            }
            if (pid > 0) {
                forked.push_back(pid);
            }
            const timespec pause{0, 10000000};
            nanosleep(&pause, nullptr);
        }
    });
    std::mutex lock;
    std::vector<std::string> answers;
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                char hash[33];
                getHash(hash, sizeof hash);
                const std::lock_guard<std::mutex> guard(lock);
                answers.emplace_back(hash);
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    calling = false;
    forker.join();
    const int after = OpenDescriptors();
    for (const pid_t pid : forked) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (const std::string& answer : answers) {
        std::printf("%s\n", answer.c_str());
    }
    std::printf("descriptors %d %d\n", before, after);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = argc == 4 && std::strcmp(argv[3], "busy") == 0;
    const bool forks = argc == 4 && std::strcmp(argv[3], "forks") == 0;
    if (argc < 3 || argc > 4 || (argc == 4 && !busy && !forks) || !SetUp(argv[1])) {
        std::fprintf(stderr,
                     "usage: signal_host default|ignore|nocldwait|handler|reaper LIBRARY "
                     "[busy|forks]\n");
        return 2;
    }
    pid_t worker = -1;
    if (busy && (worker = fork()) == 0) {
        pause();
        _exit(0);
    }
    if (forks) {
        const GetHardwareHashFn getHash = grellan::testing::LoadHardwareHash(argv[2]);
        return getHash == nullptr ? 1 : CallsBesideForks(getHash);
    }
    const int status = grellan::testing::PrintHardwareHashOf(argv[2]);
    if (worker > 0) {
        kill(worker, SIGKILL);
    }
    return status;
}
