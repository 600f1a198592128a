#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

namespace grellan::testing {

// What a host process did in one call, and how far its resident memory rose
// above what it held just before the call; the peak is -1 where the kernel
// does not tell (VmHWM and VmRSS of /proc/self/status are Linux's).
struct HostRun {
    long long peakBytes = -1;
    std::string result;
};

namespace detail {

inline long long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::char_traits<char>::length(field), field) == 0) {
            return std::stoll(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

}  // namespace detail

// Runs `call` in a forked child, a host of its own whose peak nothing else
// in this process can raise.
inline HostRun RunInHost(const std::function<std::string()>& call) {
    int report[2];
    if (pipe(report) != 0) {
        return {};
    }
    const pid_t host = fork();
    if (host == 0) {
        close(report[0]);
        const long long before = detail::StatusKiB("VmRSS:");
        const std::string result = call();
        const long long peak = detail::StatusKiB("VmHWM:");
        const std::string text =
            std::to_string(before < 0 || peak < 0 ? -1 : (peak - before) * 1024) + " " + result;
        (void)!write(report[1], text.data(), text.size());
        _exit(0);
    }
    close(report[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; host > 0 && (n = read(report[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(report[0]);
    int status = 0;
    if (host < 0 || waitpid(host, &status, 0) != host || text.empty()) {
        return {};
    }
    const std::size_t blank = text.find(' ');
    return HostRun{std::stoll(text.substr(0, blank)),
                   blank == std::string::npos ? std::string() : text.substr(blank + 1)};
}

}  // namespace grellan::testing
