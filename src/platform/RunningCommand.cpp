#include "platform/RunningCommand.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tirsel::kvl::agent::driver::platform {

namespace {

// Once the shell has reported the command's status, how long its relay may
// take to pass on the rest of the output and end. The command's processes
// have all ended by then, and what they printed is at most a pipe's worth;
// past this, a process the command left holds its output.
constexpr std::chrono::milliseconds kRelayGrace{1000};
// While the shell has not said it is done, how often waitid is asked whether
// it has ended: its end of the status channel closing says so at once, unless
// a process the host forked holds a copy of that end.
constexpr std::chrono::milliseconds kLookStep{100};
// The shell writes a few short lines; anything more is not its report.
constexpr std::size_t kStatusLimit = 256;

// Whether a read's failure is real (not an interruption, not "nothing yet").
bool Failed(ssize_t count) {
    return count < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK;
}

}  // namespace

RunningCommand::RunningCommand(const std::string& shellText, const CommandSettings& settings,
                               const std::vector<std::string>& environment)
    : timeLimit(settings.timeLimit),
      outputLimit(settings.outputLimit),
      deadline(BoundClock::now() + settings.timeLimit),
      child(settings.shell, shellText, environment),
      output(settings.outputLimit),
      nextLook(BoundClock::now() + kLookStep) {
    if (!child.Started()) {
        ending = Ending::Ended;
    }
}

void RunningCommand::Watch(pollfd* entries) const {
    entries[0] = {outputOpen ? child.Output() : -1, POLLIN, 0};
    entries[1] = {statusOpen ? child.Status() : -1, POLLIN, 0};
}

BoundClock::time_point RunningCommand::WakeBy() const {
    BoundClock::time_point wake = std::min(deadline, nextLook);
    return heldUntil ? std::min(wake, *heldUntil) : wake;
}

bool RunningCommand::ReadOutput(char* buffer, std::size_t size) {
    ssize_t count = -1;
    do {
        count = read(child.Output(), buffer, size);
    } while (count < 0 && errno == EINTR);
    if (Failed(count)) {
        ending = Ending::Failed;
        return false;
    }
    if (count == 0) {
        outputOpen = false;
    } else if (count > 0 && !output.Append(buffer, static_cast<std::size_t>(count))) {
        ending = Ending::TooLarge;
        return false;
    }
    return count > 0;
}

void RunningCommand::ReadStatus(char* buffer, std::size_t size) {
    // A few reads hold all the shell ever says; a process that floods the
    // channel gets no more of one turn.
    for (int reads = 0; reads < 4 && statusOpen; ++reads) {
        const ssize_t count = read(child.Status(), buffer, size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count == 0 || Failed(count)) {
            statusOpen = false;  // the shell, and every copy of its end, let go
        } else if (count < 0) {
            return;  // nothing more for now
        } else if (statusText.size() < kStatusLimit) {
            statusText.append(buffer, std::min(static_cast<std::size_t>(count),
                                               kStatusLimit - statusText.size()));
        }
    }
}

void RunningCommand::DrainOutput(char* buffer, std::size_t size) {
    while (outputOpen && ReadOutput(buffer, size)) {
    }
}

void RunningCommand::Serve(const pollfd* entries, BoundClock::time_point now, char* buffer,
                           std::size_t size) {
    if (ending) {
        return;
    }
    if (entries[0].revents != 0 && !ReadOutput(buffer, size) && ending) {
        return;
    }
    const bool looked = now >= nextLook;
    const bool shellEnded = looked && child.HasEnded();
    if (looked) {
        nextLook = now + kLookStep;
    }
    // The shell's last words are read before its end is believed.
    if (entries[1].revents != 0 || shellEnded) {
        ReadStatus(buffer, size);
        report = WrappedCommand::Parse(statusText);
    }
    if (report.done) {
        DrainOutput(buffer, size);
        if (!ending) {
            ending = Ending::Ended;
        }
        return;
    }
    if (!statusOpen || shellEnded) {
        ending = Ending::Ended;  // the shell is gone: what it printed proves nothing
        return;
    }
    if (report.status && !heldUntil) {
        heldUntil = now + kRelayGrace;
    }
    if (now >= deadline || (heldUntil && now >= *heldUntil)) {
        ending = report.status ? Ending::HeldOpen : Ending::TimedOut;
    }
}

void RunningCommand::Fail() {
    if (!ending) {
        ending = Ending::Failed;
    }
}

void RunningCommand::Stop() {
    if (!ending) {
        ending = Ending::Stopped;
    }
    child.Kill();
}

CommandOutcome RunningCommand::OutcomeOf(Ending reading) {
    switch (reading) {
        case Ending::TimedOut:
            return CommandOutcome::TimedOut;
        case Ending::TooLarge:
            return CommandOutcome::OutputTooLarge;
        case Ending::HeldOpen:
            return CommandOutcome::OutputHeldOpen;
        case Ending::Failed:
            return CommandOutcome::ReadFailed;
        case Ending::Stopped:
            return CommandOutcome::Stopped;
        case Ending::Ended:
            break;
    }
    return CommandOutcome::Exited;
}

void RunningCommand::SetEnd(CommandResult& result, const WrappedCommand::Report& report,
                            const std::optional<int>& waitStatus) {
    if (report.done) {
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

CommandResult RunningCommand::Finish() {
    CommandResult result;
    result.timeLimit = timeLimit;
    result.outputLimit = outputLimit;
    if (!child.Started()) {
        result.setUp = child.StartFailure();
    } else {
        child.CloseOutput();
        // Whatever the shell left in its group goes with it.
        const std::optional<int> waitStatus = child.KillAndReap();
        const Ending reading = ending.value_or(Ending::Failed);
        result.outcome = OutcomeOf(reading);
        if (reading == Ending::Ended) {
            SetEnd(result, report, waitStatus);
            result.toolStatus = report.toolStatus;
            if (result.outcome == CommandOutcome::Exited) {
                result.output = output.TakeText();
            }
        }
    }
    return result;
}

}  // namespace tirsel::kvl::agent::driver::platform
