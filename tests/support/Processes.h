#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "TempDir.h"

namespace grellan::testing {

// Whether this process has no child left, running or unreaped.
inline bool NoChildLeft() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Whether `pid` has ended: gone, or a zombie waiting for some other parent.
inline bool ProcessGone(pid_t pid) {
    if (kill(pid, 0) != 0) {
        return errno == ESRCH;
    }
#ifdef __linux__
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
#else
    // No /proc: ps names the state, "Z" for a zombie.
    FILE* ps = popen(("ps -o stat= -p " + std::to_string(pid)).c_str(), "r");
    if (ps == nullptr) {
        return false;
    }
    const int state = std::fgetc(ps);
    pclose(ps);
    return state == 'Z';
#endif
}

// Whether every pid listed (one a line) in `text` has ended, allowing a
// killed process a second to die.
inline bool AllGone(const std::string& text) {
    std::istringstream lines(text);
    pid_t pid = 0;
    while (lines >> pid) {
        int waited = 0;
        while (!ProcessGone(pid)) {
            if (++waited > 100) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

// Whether the file at `path` holds something within five seconds (a fake
// tool that lists itself there has started).
inline bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && ReadFile(path).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !ReadFile(path).empty();
}

}  // namespace grellan::testing
