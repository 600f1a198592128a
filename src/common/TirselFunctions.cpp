#include "common/TirselFunctions.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <new>

#include "common/CommandOutput.h"
#include "platform/ChildProcess.h"
#include "platform/CommandSettings.h"

#ifdef __APPLE__
#include <crt_externs.h>  // a dynamic library reaches the environment through _NSGetEnviron
#else
extern char** environ;  // NOLINT(readability-redundant-declaration)
#endif

namespace tirsel::kvl::agent::driver::common {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool HasPrefix(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool Dropped(const std::string& entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) {
        return true;
    }
    const std::string name = entry.substr(0, equals);
    static const char* const kPrefixes[] = {"LD_", "DYLD_", "BASH_FUNC_"};
    static const char* const kNames[] = {"ENV", "BASH_ENV", "IFS", "SHELLOPTS", "PS4", "PATH"};
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                       [&](const char* prefix) { return HasPrefix(name, prefix); }) ||
           std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char* fixed) { return name == fixed; });
}

std::vector<std::string> HostEnvironment() {
    std::vector<std::string> entries;
#ifdef __APPLE__
    char** const first = *_NSGetEnviron();
#else
    char** const first = environ;
#endif
    for (char** entry = first; entry != nullptr && *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

// The functions in which a cancelled thread's unwinding starts keep their
// locals without AddressSanitizer redzones: a forced unwind leaves the
// redzones of the frames it skips poisoned, and GCC 12's sanitizer runtime
// then reports its own sigaltstack call in those frames as an overflow.
#if defined(__SANITIZE_ADDRESS__)
#define GRELLAN_CANCELLATION_FRAME __attribute__((no_sanitize_address))
#else
#define GRELLAN_CANCELLATION_FRAME
#endif

// While no output arrives, how often to look whether the shell has ended.
constexpr milliseconds kEndCheck{50};

int RemainingMilliseconds(Clock::time_point deadline, milliseconds most) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max(milliseconds{0}, std::min(left, most)).count());
}

// Whether the descriptor has data or end of file right now.
GRELLAN_CANCELLATION_FRAME bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}

// Reads the child's output until end of file, a bound, or a read failure.
// Returns Exited when end of file was reached.
GRELLAN_CANCELLATION_FRAME CommandOutcome ReadOutput(platform::ChildProcess& child,
                                                     CommandOutput& output,
                                                     Clock::time_point deadline) {
    char buffer[16384];
    while (true) {
        const int wait = RemainingMilliseconds(deadline, kEndCheck);
        if (wait == 0 && Clock::now() >= deadline) {
            return CommandOutcome::TimedOut;
        }
        pollfd entry{child.Output(), POLLIN, 0};
        const int ready = poll(&entry, 1, wait);  // a cancellation point
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return CommandOutcome::ReadFailed;
        }
        if (ready == 0) {
            // The shell has gone, but its output is still open: a process it
            // left behind holds it. Nothing says that output is complete.
            if (child.HasEnded() && !Readable(child.Output())) {
                return CommandOutcome::OutputHeldOpen;
            }
            continue;
        }
        const ssize_t count = read(child.Output(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return CommandOutcome::ReadFailed;
        }
        if (count == 0) {
            return CommandOutcome::Exited;
        }
        if (!output.Append(buffer, static_cast<std::size_t>(count))) {
            return CommandOutcome::OutputTooLarge;
        }
    }
}

// Waits, until the deadline, for the shell to end after closing its output.
GRELLAN_CANCELLATION_FRAME bool AwaitEnd(const platform::ChildProcess& child,
                                         Clock::time_point deadline) {
    milliseconds pause{1};
    while (!child.HasEnded()) {
        const int wait = RemainingMilliseconds(deadline, pause);
        if (wait == 0) {
            return false;
        }
        poll(nullptr, 0, wait);  // a cancellation point
        pause = std::min(pause * 2, kEndCheck);
    }
    return true;
}

}  // namespace

std::vector<std::string> TirselFunctions::SanitizedEnvironment(const std::vector<std::string>& host,
                                                               const std::string& searchPath) {
    std::vector<std::string> kept;
    kept.reserve(host.size() + 1);
    for (const std::string& entry : host) {
        if (!Dropped(entry)) {
            kept.push_back(entry);
        }
    }
    kept.push_back("PATH=" + searchPath);
    return kept;
}

CommandResult TirselFunctions::RunCommand(const std::string& command) {
    CommandResult result;
    try {
        const platform::CommandSettings& settings = platform::CurrentCommandSettings();
        const Clock::time_point deadline = Clock::now() + settings.timeLimit;
        platform::ChildProcess child(settings.shell, command,
                                     SanitizedEnvironment(HostEnvironment(), settings.searchPath));
        if (!child.Started()) {
            result.outcome = CommandOutcome::NotStarted;
            return result;
        }
        CommandOutput output(settings.outputLimit);
        CommandOutcome outcome = ReadOutput(child, output, deadline);
        child.CloseOutput();
        if (outcome == CommandOutcome::Exited && !AwaitEnd(child, deadline)) {
            outcome = CommandOutcome::TimedOut;
        }
        // Whatever the shell left in its group goes with it.
        const int status = child.KillAndReap();
        if (outcome == CommandOutcome::Exited) {
            if (WIFEXITED(status)) {
                result.exitStatus = WEXITSTATUS(status);
                result.output = output.TakeText();
            } else {
                outcome = CommandOutcome::Signalled;
            }
        }
        result.outcome = outcome;
    } catch (const std::bad_alloc&) {
        // The child is killed and reaped by its holder.
        result = CommandResult();
        result.outcome = CommandOutcome::ReadFailed;
    }
    return result;
}

std::string TirselFunctions::ExecCommand(const std::string& command) {
    return RunCommand(command).output;
}

void TirselFunctions::rtrim(std::string& s) {
    std::size_t end = s.size();
    while (end > 0 && IsSpace(s[end - 1])) {
        --end;
    }
    s.erase(end);
}

void TirselFunctions::ltrim(std::string& s) {
    std::size_t begin = 0;
    while (begin < s.size() && IsSpace(s[begin])) {
        ++begin;
    }
    s.erase(0, begin);
}

void TirselFunctions::trim(std::string& s) {
    rtrim(s);
    ltrim(s);
}

}  // namespace tirsel::kvl::agent::driver::common
