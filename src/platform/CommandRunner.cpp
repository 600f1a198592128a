#include "platform/CommandRunner.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <memory>
#include <new>

#include "platform/BoundClock.h"
#include "platform/RunningCommand.h"
#include "platform/WrappedCommand.h"

namespace tirsel::kvl::agent::driver::platform {

namespace {

using std::chrono::milliseconds;

// Whole milliseconds until `wake`, rounded up so that poll never returns
// just before a bound and spins; 0 once it has passed.
int MillisecondsUntil(BoundClock::time_point wake, BoundClock::time_point now) {
    if (wake <= now) {
        return 0;
    }
    const auto left = std::chrono::ceil<milliseconds>(wake - now);
    return static_cast<int>(
        std::min<milliseconds::rep>(left.count(), std::numeric_limits<int>::max()));
}

// A result that says only why the run could not go on for it.
CommandResult Unfinished(CommandOutcome outcome) {
    CommandResult result;
    result.outcome = outcome;
    return result;
}

// The commands of one run while they are being watched.
class Batch {
public:
    Batch(const std::vector<CommandRunner::Command>& commands, const CommandSettings& settings,
          const std::vector<std::string>& environment, const CommandRunner::Ended& ended,
          std::vector<CommandResult>& results)
        : commands(commands),
          settings(settings),
          environment(environment),
          ended(ended),
          results(results),
          running(commands.size()),
          delivered(commands.size(), false),
          entries(commands.size() * RunningCommand::kEntries) {}

    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Whatever is left of the run (an allocation failed) is killed, every
    // group before any is waited for; the holders then reap them.
    ~Batch() {
        for (std::unique_ptr<RunningCommand>& command : running) {
            if (command) {
                command->Stop();
            }
        }
    }

    void Go() {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            running[i] = std::make_unique<RunningCommand>(
                WrappedCommand::Text(commands[i].text, commands[i].watchedTool), settings,
                environment);
            if (!running[i]->Reading() && !Deliver(i)) {
                return;  // it could not start, and that decided the run
            }
        }
        while (Watch()) {
            for (std::size_t i = 0; i < running.size(); ++i) {
                if (running[i] && !running[i]->Reading() && !Deliver(i)) {
                    return;
                }
            }
        }
    }

private:
    // One turn of the loop: polls every command still read, then lets each
    // take what poll found. False once no command is read any more.
    bool Watch() {
        bool any = false;
        BoundClock::time_point wake = BoundClock::time_point::max();
        for (std::size_t i = 0; i < running.size(); ++i) {
            pollfd* own = &entries[i * RunningCommand::kEntries];
            if (running[i] && running[i]->Reading()) {
                running[i]->Watch(own);
                wake = std::min(wake, running[i]->WakeBy());
                any = true;
            } else {
                std::fill(own, own + RunningCommand::kEntries, pollfd{-1, 0, 0});
            }
        }
        if (!any) {
            return false;
        }
        const int ready = poll(entries.data(), static_cast<nfds_t>(entries.size()),
                               MillisecondsUntil(wake, BoundClock::now()));
        if (ready < 0 && errno != EINTR) {
            // Nothing can be watched any more: every command fails.
            for (std::unique_ptr<RunningCommand>& command : running) {
                if (command && command->Reading()) {
                    command->Fail();
                }
            }
            return true;
        }
        if (ready <= 0) {
            for (pollfd& entry : entries) {
                entry.revents = 0;
            }
        }
        const BoundClock::time_point now = BoundClock::now();
        for (std::size_t i = 0; i < running.size(); ++i) {
            if (running[i] && running[i]->Reading()) {
                running[i]->Serve(&entries[i * RunningCommand::kEntries], now, scratch,
                                  sizeof scratch);
            }
        }
        return true;
    }

    // Finishes command `i` and tells the caller; when the caller stops the
    // run, kills every other group at once, then reaps them. False then.
    bool Deliver(std::size_t i) {
        results[i] = running[i]->Finish();
        running[i].reset();
        delivered[i] = true;
        if (ended(i, results[i])) {
            return true;
        }
        for (std::unique_ptr<RunningCommand>& command : running) {
            if (command) {
                command->Stop();
            }
        }
        for (std::size_t j = 0; j < running.size(); ++j) {
            if (running[j]) {
                results[j] = running[j]->Finish();
                running[j].reset();
            } else if (!delivered[j]) {
                results[j] = Unfinished(CommandOutcome::Stopped);
            }
            delivered[j] = true;
        }
        return false;
    }

    const std::vector<CommandRunner::Command>& commands;
    const CommandSettings& settings;
    const std::vector<std::string>& environment;
    const CommandRunner::Ended& ended;
    std::vector<CommandResult>& results;
    std::vector<std::unique_ptr<RunningCommand>> running;
    std::vector<bool> delivered;
    std::vector<pollfd> entries;
    char scratch[16384];
};

}  // namespace

std::vector<CommandResult> CommandRunner::RunTogether(const std::vector<Command>& commands,
                                                      const CommandSettings& settings,
                                                      const std::vector<std::string>& environment,
                                                      const Ended& ended) {
    std::vector<CommandResult> results;
    try {
        results.resize(commands.size());
        Batch(commands, settings, environment, ended, results).Go();
    } catch (const std::bad_alloc&) {
        // Every command is killed and reaped by its holder by now; what it
        // gave is lost with the memory.
        for (CommandResult& result : results) {
            result = Unfinished(CommandOutcome::OutOfMemory);
        }
    }
    return results;
}

CommandResult CommandRunner::Run(const Command& command, const CommandSettings& settings,
                                 const std::vector<std::string>& environment) {
    try {
        const std::vector<Command> one = {command};
        std::vector<CommandResult> results = RunTogether(
            one, settings, environment, [](std::size_t, CommandResult&) { return true; });
        if (!results.empty()) {
            return std::move(results.front());
        }
    } catch (const std::bad_alloc&) {
    }
    return Unfinished(CommandOutcome::OutOfMemory);
}

}  // namespace tirsel::kvl::agent::driver::platform
