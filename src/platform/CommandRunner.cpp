#include "platform/CommandRunner.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "platform/ChildProcess.h"
#include "platform/CommandOutput.h"
#include "platform/CommandSettings.h"
#include "platform/WrappedCommand.h"

#ifdef __APPLE__
#include <crt_externs.h>  // a dynamic library reaches the environment through _NSGetEnviron
#else
extern char** environ;  // NOLINT(readability-redundant-declaration)
#endif

namespace tirsel::kvl::agent::driver::platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool HasPrefix(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The host's variables a tool may see; everything else the host has set
// (GREP_OPTIONS, which macOS's grep puts in front of its own arguments,
// POSIXLY_CORRECT, CDPATH, the loader's and the shell's injection points, the
// host's own secrets) stays out. The locale and the user's identity and
// directories are what system_profiler, ioreg and grep read.
bool Allowed(const std::string& entry) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    const std::string name = entry.substr(0, equals);
    static const char* const kNames[] = {"HOME", "TMPDIR", "USER", "LOGNAME", "LANG",
                                         // CoreFoundation's text encoding, set for every
                                         // login session on a Mac
                                         "__CF_USER_TEXT_ENCODING"};
    return HasPrefix(name, "LC_") || std::any_of(std::begin(kNames), std::end(kNames),
                                                 [&](const char* kept) { return name == kept; });
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

// Once the shell has reported, how long its output may take to reach its
// end. The command's own output is in the pipe by then; what delays the end
// is another thread's child that holds a copy of the write end between its
// start and its exec. Past this, a process the command left holds it.
constexpr milliseconds kEndGrace{100};

int RemainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    const auto most = milliseconds{std::numeric_limits<int>::max()};
    return static_cast<int>(std::max(milliseconds{0}, std::min(left, most)).count());
}

// How reading ended. Ended: the output reached its end and the shell
// reported, or the shell's end of the status channel closed without a word.
enum class Reading { Ended, TimedOut, TooLarge, HeldOpen, Failed };

// Reads the child's output and its status channel until both are done, a
// bound is hit, or a read fails.
Reading ReadOutput(const ChildProcess& child, CommandOutput& output, std::string& statusText,
                   Clock::time_point deadline) {
    // The shell writes a few short lines; anything more is not its report.
    constexpr std::size_t kStatusLimit = 256;
    char buffer[16384];
    bool outputOpen = true;
    bool statusOpen = true;
    Clock::time_point heldUntil = deadline;
    bool reported = false;
    while (true) {
        if (!reported && WrappedCommand::Parse(statusText).status.has_value()) {
            reported = true;
            heldUntil = std::min(deadline, Clock::now() + kEndGrace);
        }
        if (!statusOpen && !reported) {
            return Reading::Ended;  // the shell is gone: what it printed proves nothing
        }
        if (reported && !outputOpen) {
            return Reading::Ended;
        }
        const int wait = RemainingMilliseconds(heldUntil);
        if (wait == 0) {
            return reported ? Reading::HeldOpen : Reading::TimedOut;
        }
        pollfd entries[2] = {{outputOpen ? child.Output() : -1, POLLIN, 0},
                             {statusOpen && !reported ? child.Status() : -1, POLLIN, 0}};
        const int ready = poll(entries, 2, wait);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Reading::Failed;
        }
        if (ready == 0) {
            continue;
        }
        if (entries[0].revents != 0) {
            const ssize_t count = read(child.Output(), buffer, sizeof buffer);
            if (count < 0 && errno != EINTR && errno != EAGAIN) {
                return Reading::Failed;
            }
            if (count == 0) {
                outputOpen = false;
            } else if (count > 0 && !output.Append(buffer, static_cast<std::size_t>(count))) {
                return Reading::TooLarge;
            }
        }
        if (entries[1].revents != 0) {
            const ssize_t count = read(child.Status(), buffer, sizeof buffer);
            if (count < 0 && errno != EINTR && errno != EAGAIN) {
                return Reading::Failed;
            }
            if (count == 0) {
                statusOpen = false;
            } else if (count > 0 && statusText.size() < kStatusLimit) {
                statusText.append(buffer, std::min(static_cast<std::size_t>(count),
                                                   kStatusLimit - statusText.size()));
            }
        }
    }
}

// The outcome of a reading stopped short; Ended is decided by SetEnd.
CommandOutcome Stopped(Reading reading) {
    switch (reading) {
        case Reading::TimedOut:
            return CommandOutcome::TimedOut;
        case Reading::TooLarge:
            return CommandOutcome::OutputTooLarge;
        case Reading::HeldOpen:
            return CommandOutcome::OutputHeldOpen;
        case Reading::Failed:
            return CommandOutcome::ReadFailed;
        case Reading::Ended:
            break;
    }
    return CommandOutcome::Exited;
}

// "30 s" for whole seconds, "1500 ms" otherwise.
std::string DurationText(milliseconds duration) {
    return duration.count() % 1000 == 0 ? std::to_string(duration.count() / 1000) + " s"
                                        : std::to_string(duration.count()) + " ms";
}

// "64 MiB" for whole mebibytes, "1000 bytes" otherwise.
std::string SizeText(std::size_t bytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                             : std::to_string(bytes) + " bytes";
}

// How `result` ended, in words.
std::string Reason(const CommandResult& result, const std::string& startFailure,
                   const CommandSettings& settings) {
    switch (result.outcome) {
        case CommandOutcome::NotStarted:
            return "could not start: " + startFailure;
        case CommandOutcome::Signalled:
            return "killed by signal " + std::to_string(result.signal);
        case CommandOutcome::TimedOut:
            return "timed out after " + DurationText(settings.timeLimit);
        case CommandOutcome::OutputTooLarge:
            return "output over " + SizeText(settings.outputLimit);
        case CommandOutcome::OutputHeldOpen:
            return "output held open by a leftover process";
        case CommandOutcome::ReadFailed:
            return "its output could not be read";
        case CommandOutcome::Unreported:
            return "its shell ended without reporting a status";
        case CommandOutcome::Exited:
            break;
    }
    return "exit status " + std::to_string(result.exitStatus);
}

// How the command ended, from its shell's report or, without one, from the
// shell's wait status when the host left that to us.
void SetEnd(CommandResult& result, const WrappedCommand::Report& report,
            const std::optional<int>& waitStatus) {
    if (report.status) {
        if (const std::optional<int> killedBy = WrappedCommand::SignalOf(*report.status)) {
            result.outcome = CommandOutcome::Signalled;
            result.signal = *killedBy;
        } else {
            result.outcome = CommandOutcome::Exited;
            result.exitStatus = *report.status;
        }
    } else if (!waitStatus) {
        result.outcome = CommandOutcome::Unreported;
    } else if (WIFSIGNALED(*waitStatus)) {
        result.outcome = CommandOutcome::Signalled;
        result.signal = WTERMSIG(*waitStatus);
    } else {
        // The shell could not run the wrapper (a syntax error, say).
        result.outcome = CommandOutcome::Exited;
        result.exitStatus = WIFEXITED(*waitStatus) ? WEXITSTATUS(*waitStatus) : -1;
    }
}

}  // namespace

std::vector<std::string> CommandRunner::ToolEnvironment(const std::vector<std::string>& host,
                                                        const std::string& searchPath) {
    std::vector<std::string> kept;
    kept.reserve(host.size() + 1);
    for (const std::string& entry : host) {
        if (Allowed(entry)) {
            kept.push_back(entry);
        }
    }
    kept.push_back("PATH=" + searchPath);
    return kept;
}

CommandResult CommandRunner::Run(const std::string& command, const std::string& watchedTool) {
    CommandResult result;
    std::string startFailure;
    const CommandSettings& settings = CurrentCommandSettings();
    try {
        const Clock::time_point deadline = Clock::now() + settings.timeLimit;
        ChildProcess child(settings.shell, WrappedCommand::Text(command, watchedTool),
                           ToolEnvironment(HostEnvironment(), settings.searchPath));
        if (!child.Started()) {
            startFailure = child.StartFailure();
        } else {
            CommandOutput output(settings.outputLimit);
            std::string statusText;
            const Reading reading = ReadOutput(child, output, statusText, deadline);
            child.CloseOutput();
            // Whatever the shell left in its group goes with it.
            const std::optional<int> waitStatus = child.KillAndReap();
            const WrappedCommand::Report report = WrappedCommand::Parse(statusText);
            result.outcome = Stopped(reading);
            if (reading == Reading::Ended) {
                SetEnd(result, report, waitStatus);
                result.toolStatus = report.toolStatus;
                if (result.outcome == CommandOutcome::Exited) {
                    result.output = output.TakeText();
                }
            }
        }
    } catch (const std::bad_alloc&) {
        // The child is killed and reaped by its holder.
        result = CommandResult();
        result.outcome = CommandOutcome::ReadFailed;
    }
    try {
        result.reason = Reason(result, startFailure, settings);
    } catch (const std::bad_alloc&) {
        result.output.clear();
        result.outcome = CommandOutcome::ReadFailed;
        result.reason = "out of memory";  // short enough to fit any string's own buffer
    }
    return result;
}

}  // namespace tirsel::kvl::agent::driver::platform
