#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/BoundClock.h"
#include "platform/ChildProcess.h"
#include "platform/CommandOutput.h"
#include "platform/CommandResult.h"
#include "platform/CommandSettings.h"
#include "platform/WrappedCommand.h"

namespace tirsel::kvl::agent::driver::platform {

// One command of a run, from its start to its result: its shell, what it has
// printed, what the shell has said, and its own bounds (time from its own
// start, output). The runner polls the descriptors of all its commands in one
// loop and hands each its share of what poll found.
class RunningCommand {
public:
    // Each command watches this many poll entries (unused ones have fd -1).
    static constexpr std::size_t kEntries = 2;

    // Starts `shellText` as CommandRunner describes it.
    RunningCommand(const std::string& shellText, const CommandSettings& settings,
                   const std::vector<std::string>& environment);

    // Whether it still needs poll: started, and neither ended nor past a bound.
    bool Reading() const { return !ending.has_value(); }
    // Fills its kEntries poll entries from `entries` on.
    void Watch(pollfd* entries) const;
    // When it has to be looked at again even if nothing arrives.
    BoundClock::time_point WakeBy() const;
    // Takes what poll found in its entries (revents; all 0 after a timeout),
    // then checks how it stands at `now`. `buffer` is scratch space.
    void Serve(const pollfd* entries, BoundClock::time_point now, char* buffer, std::size_t size);

    // Ends it unfinished: its descriptors cannot be watched any more.
    void Fail();
    // Ends it unfinished because another command of the run failed: its group
    // is killed at once; Finish reaps it.
    void Stop();
    // Kills what is left of its group, reaps its shell and says what became
    // of the command. Once.
    CommandResult Finish();

private:
    // How reading ended. Ended: the shell said the command was done, or the
    // shell ended without saying so.
    enum class Ending { Ended, TimedOut, TooLarge, HeldOpen, Failed, Stopped };

    // One read of the output; false when reading must stop (`ending` says why).
    bool ReadOutput(char* buffer, std::size_t size);
    void ReadStatus(char* buffer, std::size_t size);
    // Once the command is done, what its output still holds, up to what is
    // there (a process the host forked may hold the write end open forever).
    void DrainOutput(char* buffer, std::size_t size);
    // The outcome of a reading stopped short; Ended is decided by SetEnd.
    static CommandOutcome OutcomeOf(Ending reading);
    // How the command ended, from its shell's report or, without one, from
    // the shell's wait status when the host left that to us.
    static void SetEnd(CommandResult& result, const WrappedCommand::Report& report,
                       const std::optional<int>& waitStatus);

    std::chrono::milliseconds timeLimit;
    std::size_t outputLimit;
    BoundClock::time_point deadline;
    ChildProcess child;
    CommandOutput output;
    std::string statusText;
    WrappedCommand::Report report;
    bool outputOpen = true;
    bool statusOpen = true;
    // Once the command reported its status: until when its relay may take to
    // end before a process the command left is known to hold its output.
    std::optional<BoundClock::time_point> heldUntil;
    // When to ask waitid next whether the shell has ended.
    BoundClock::time_point nextLook;
    std::optional<Ending> ending;
};

}  // namespace tirsel::kvl::agent::driver::platform
